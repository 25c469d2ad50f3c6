#pragma once

#include <QString>

#include <array>
#include <optional>

class SettingsStore;

// Which protocol an entry's computer or device answered in, or was set to by the user.
enum class Speaks { Unknown, Private, Plain, LocalSend };

struct AddressBookEntry {
    QString Name;
    QString IPaddress; // as typed: normally dotted IPv4, but never checked
    QByteArray Key;    // the SHA-256 of the person's public key, once known; else empty
    // Whether a person compared the pair's code and found it the same on both screens;
    // a key kept at first contact alone is only pinned.
    bool KeyCompared = false;
    // A key the person said was not their friend's ("They Differ"): refused until the key
    // is forgotten or another is compared.
    QByteArray RefusedKey;
    Speaks speaks = Speaks::Unknown;
    bool speaksChosen = false; // the user chose speaks: it is never probed or changed
    quint16 localSendPort = 0; // 0: the usual one
    QByteArray certificate;    // a LocalSend device's certificate's SHA-256, once known
    QString deviceType;        // as the LocalSend device told it: "mobile", "desktop"...
};

// The texts Speaks is stored as ("private", "plain", "localsend"); empty for Unknown.
QString speaksText(Speaks speaks);
std::optional<Speaks> speaksFromText(const QString& text);

// The table of peers: 51 slots, of which slots 0 to count()-1 are the occupied ones, in
// the order the user sees them. Names and addresses are kept exactly as typed.
class AddressBook
{
public:
    static constexpr int kSlots = 51;

    int count() const { return count_; }
    bool isFull() const { return count_ == kSlots; }
    // Requires 0 <= slot < count().
    const AddressBookEntry& entry(int slot) const;

    // Requires !isFull(). The entry takes the first free slot.
    void append(const QString& name, const QString& address);
    // Requires 0 <= slot < count(). Later entries move down one slot.
    void remove(int slot);
    // Requires 0 <= slot < count().
    void setAddress(int slot, const QString& address);
    // Requires 0 <= slot < count(). An empty key forgets the one there was; a new key is
    // pinned, not yet compared.
    void setKey(int slot, const QByteArray& key);
    // Require 0 <= slot < count().
    void setKeyCompared(int slot, bool compared);
    void setRefusedKey(int slot, const QByteArray& key);
    // Requires 0 <= slot < count(). The LocalSend fields, as AddressBookEntry keeps them.
    void setSpeaks(int slot, Speaks speaks, bool chosen);
    void setLocalSendPort(int slot, quint16 port);
    void setCertificate(int slot, const QByteArray& certificate);
    void setDeviceType(int slot, const QString& type);

    // Fills the table anew from sections IPaddress0 to IPaddress50, skipping the ones
    // without a usable name, so the loaded entries have no gaps.
    void load(const SettingsStore& store);
    // Writes the entries to IPaddress0 upwards (a key as "Key", in hexadecimal, with
    // "KeyCompared" true once compared, and "RefusedKey" when there is one), then
    // Writes the entries to IPaddress0 upwards (a key as "Key", in hexadecimal; the
    // LocalSend fields as Speaks, SpeaksChosen, LocalSendPort, Certificate, DeviceType), then
    // deletes the sections above them.
    // Writing first means a failure midway never leaves fewer entries stored than before.
    void store(SettingsStore& store) const;

private:
    std::array<AddressBookEntry, kSlots> slots_;
    int count_ = 0;
};
