#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// One run of the built program with a home, and so a settings file, of its own: nothing
// it does can reach the real user's settings.
class CliRun
{
public:
    CliRun()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home_.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.path() + "/.config");
        // A runtime folder of its own: this run shares its ports with no one else's.
        QDir().mkpath(runtimeFolder());
        QFile::setPermissions(runtimeFolder(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder());
        process.setProcessEnvironment(environment);
    }
    ~CliRun()
    {
        process.kill();
        process.waitForFinished(1000);
    }

    QString home() const { return home_.path(); }
    QString runtimeFolder() const { return home_.path() + "/run"; }
    // Writes the settings file the program reads, as the window would have left it.
    bool storeSettings(const QByteArray& ini) const
    {
        const QString folder = home_.path() + "/.config/Quillo";
        QFile file(folder + "/Quillo.conf");
        return QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) &&
               file.write(ini) == ini.size();
    }

    void start(const QStringList& arguments) { process.start(QUILLO_EXECUTABLE, arguments); }
    bool hasEnded() const { return process.state() == QProcess::NotRunning; }
    // Whether it ended by itself, as opposed to crashing or never starting.
    bool exitedNormally() const
    {
        return process.exitStatus() == QProcess::NormalExit &&
               process.error() != QProcess::FailedToStart;
    }
    int exitCode() const { return process.exitCode(); }
    QString output()
    {
        output_ += QString::fromUtf8(process.readAllStandardOutput());
        return output_;
    }
    QString errors()
    {
        errors_ += QString::fromUtf8(process.readAllStandardError());
        return errors_;
    }

    QProcess process;

private:
    QTemporaryDir home_;
    QString output_;
    QString errors_;
};
