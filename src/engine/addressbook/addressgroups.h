#pragma once

#include <QList>
#include <QString>

class AddressBook;
class SettingsStore;

// A named set of the address book's people ("Class 4b"), sent to as one entry.
struct AddressGroup {
    QString Name;
    QList<int> members; // slots of the address book, ascending, each once
};

// The address book's groups. They live apart from the people's 51 slots, which they do
// not use up, in sections Group0 upwards: settings written before groups existed read as
// they did. A group holds people only, never another group or itself.
//
// In memory a member is its slot, moved along when a person before it is deleted. In the
// settings it is its name and address, found again on loading in whatever slot they are
// then: slots are only the order the sections happen to be in, and the settings may have
// been written by another copy since. A member no longer in the book is dropped.
class AddressGroups
{
public:
    static constexpr int kGroups = 20;

    int count() const { return int(groups_.size()); }
    bool isFull() const { return count() == kGroups; }
    // Requires 0 <= index < count().
    const AddressGroup& group(int index) const;

    // Adds a group of the slots of book among members; false, adding nothing, when there
    // are kGroups already or the name is blank.
    bool append(const QString& name, const QList<int>& members, const AddressBook& book);
    // Requires 0 <= index < count().
    void remove(int index);
    // The person in slot was deleted: it leaves every group, and the slots after it move
    // down one, as the book's do.
    void personRemoved(int slot);

    void load(const SettingsStore& store, const AddressBook& book);
    // Writes the groups to Group0 upwards, then deletes the sections above them.
    void store(SettingsStore& store, const AddressBook& book) const;

private:
    QList<AddressGroup> groups_;
};
