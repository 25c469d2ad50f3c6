#include "station/station.h"

#include "platform/settingsstore.h"
#include "station/receiversettings.h"

void Station::wireAnnouncements()
{
    announcements_.setOwnInfo(ownDeviceInfo());
    connect(&announcements_, &AnnouncementListener::certificateRefused, this,
            [this](const QString& name, const QString& address) {
                Q_EMIT problem(keyNotShownMessage(name, address) +
                               QStringLiteral(" Its LocalSend announcement was not answered."));
            });
}

void Station::setAnswerLocalSend(bool answer, bool store)
{
    answerLocalSend_ = answer;
    if (store) {
        storeAnswerLocalSend(settings_, answer);
        settings_.save();
    }
    updateAnnouncements();
}

void Station::hearAnnouncements()
{
    hearing_ = true;
    updateAnnouncements();
}

// While a window has the ports, it answers; this copy would only answer twice.
void Station::updateAnnouncements()
{
    if (!hearing_ || !answerLocalSend_ || lent_) {
        announcements_.close();
        return;
    }
    if (announcements_.isListening())
        return;
    const std::optional<SocketError> error = announcements_.listen(bindAddress_);
    if (!error || announcementPortTold_)
        return;
    announcementPortTold_ = true;
    Q_EMIT problem(QStringLiteral("Cannot hear LocalSend devices announce themselves on UDP port "
                                  "%1: Error %2: %3. Quillo goes on without answering them; they "
                                  "can still reach this computer by its address.")
                       .arg(QString::number(AnnouncementListener::kPort),
                            QString::number(error->number), error->description));
}
