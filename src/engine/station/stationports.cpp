#include "station/porthandover.h"
#include "station/station.h"

#include "platform/settingsstore.h"

// Taking the ports back is tried this often, and a failure is told once it has lasted this
// long: the window that had them may take a moment to end.
constexpr auto kRetakeInterval = std::chrono::milliseconds(200);
constexpr auto kRetakePatience = std::chrono::seconds(5);

PortHandover& Station::handover(const QString& folder)
{
    if (!handover_) {
        handover_ = std::make_unique<PortHandover>(folder);
        connect(handover_.get(), &PortHandover::raiseAsked, this, &Station::raiseRequested);
        connect(handover_.get(), &PortHandover::claimed, this, &Station::givePortsUp);
        connect(handover_.get(), &PortHandover::returned, this, [this] {
            reloadShared();
            retakeTold_.setRemainingTime(kRetakePatience);
            takePortsBack();
        });
        connect(handover_.get(), &PortHandover::portsReleased, this, [this] {
            reloadShared();
            Q_EMIT portsFree();
        });
        retake_.setSingleShot(true);
        retake_.setInterval(kRetakeInterval);
        connect(&retake_, &QTimer::timeout, this, &Station::takePortsBack);
    }
    return *handover_;
}

Station::PortClaim Station::claimPorts(const QString& folder)
{
    if (folder.isEmpty())
        return PortClaim::Free;
    PortHandover& shared = handover(folder);
    if (shared.otherWindowRuns())
        return PortClaim::OtherWindow;
    shared.holdWindow();
    return shared.claimPorts() ? PortClaim::Waiting : PortClaim::Free;
}

void Station::lendPorts(const QString& folder)
{
    if (!folder.isEmpty())
        handover(folder).holdPorts();
}

// Whoever had the ports may have changed the address book, the keys, the waiting files
// and the history of received files.
void Station::reloadShared()
{
    if (shortLived_)
        return;
    settings_.reload();
    load();
    history_.reload();
}

// Files arriving end where they began; deliveries of waiting files stop, what is left
// waiting for the window to deliver. The window reads the list of received files and the
// index of part files once the ports are released, so they are released once both are
// written.
void Station::givePortsUp()
{
    lent_ = true;
    updateAnnouncements();
    stopSending();
    receiver_.closePorts();
    presenceLent_ = presence_.isBound();
    announcingLent_ = presence_.isAnnouncing();
    presence_.stopAnnouncing();
    presence_.release();
    history_.whenWritten([this] { receiver_.whenPartsWritten([this] { handover_->released(); }); });
    Q_EMIT portsLent();
}

void Station::takePortsBack()
{
    std::optional<SocketError> error = receiver_.listen();
    if (!error && presenceLent_) {
        error = presence_.bind(bindAddress_);
        if (error)
            receiver_.closePorts();
    }
    if (error) {
        if (retakeTold_.hasExpired()) {
            retakeTold_ = QDeadlineTimer(QDeadlineTimer::Forever);
            Q_EMIT portsNotTakenBack(*error);
        }
        retake_.start();
        return;
    }
    lent_ = false;
    updateAnnouncements();
    if (announcingLent_)
        presence_.startAnnouncing();
    waiting_.resume();
    Q_EMIT portsTakenBack();
}
