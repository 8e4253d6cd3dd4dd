#pragma once

#include "settings/FileLocations.h"
#include "support/TestFolder.h"

// The installed file layout, with the folders the XDG variables name in a fresh temporary folder while it lives:
// config/, data/, cache/, the system data folders sys1/ and sys2/, and run/ for the sockets. The variables and the
// portable layout are put back when it goes. For tests that link kelvo_settings.
class InstalledLayout
{
public:
    InstalledLayout()
    {
        Set("XDG_CONFIG_HOME", Path("config"));
        Set("XDG_DATA_HOME", Path("data"));
        Set("XDG_CACHE_HOME", Path("cache"));
        Set("XDG_DATA_DIRS", Path("sys1") + ':' + Path("sys2"));
        Set("XDG_RUNTIME_DIR", Path("run"));
        EXPECT_TRUE(QDir().mkdir(Path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        UseFileLayout(FileLayout::Installed);
    }
    ~InstalledLayout()
    {
        UseFileLayout(FileLayout::Portable);
        for (const auto &[name, value, wasSet] : saved)
            wasSet ? qputenv(name, value) : qunsetenv(name);
    }

    QString Path(const QString &relative) const { return dir.filePath(relative); }
    void Write(const QString &relative, const QByteArray &bytes) const { WriteFile(Path(relative), bytes); }

private:
    void Set(const char *name, const QString &value)
    {
        saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        qputenv(name, value.toLocal8Bit());
    }

    QTemporaryDir dir;
    QList<std::tuple<const char *, QByteArray, bool>> saved;
};
