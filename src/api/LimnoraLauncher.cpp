#include "LimnoraLauncher.h"

#include "ApiLogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <array>

Q_LOGGING_CATEGORY(lcApi, "limnoscope.api", QtWarningMsg)

namespace limnoscope {
namespace {

constexpr std::array<const char*, 2> limnoraDesktopEntryIDs { "com.limnora.Limnora.desktop", "limnora.desktop" };
constexpr char limnoraSystemExecutable[] = "/opt/Limnora/limnora";
constexpr char limnoraHomeAppImage[] = "/Applications/Limnora.AppImage";
constexpr qint64 maxDesktopEntryBytes = 1024 * 1024;

struct DesktopEntry {
    QString exec;
    bool hidden = false;
};

// Undoes the escapes every desktop-entry string value may hold (\s, \n, \t, \r, \\).
QString unescapeValue(QStringView value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            result.append(value[i]);
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case u's':
            result.append(u' ');
            break;
        case u'n':
            result.append(u'\n');
            break;
        case u't':
            result.append(u'\t');
            break;
        case u'r':
            result.append(u'\r');
            break;
        case u'\\':
            result.append(u'\\');
            break;
        default:
            result.append(u'\\').append(next);
            break;
        }
    }
    return result;
}

std::optional<DesktopEntry> readDesktopEntry(const QString& path)
{
    QFile file(path);
    if (file.size() > maxDesktopEntryBytes || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    DesktopEntry entry;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMainGroup || line.startsWith(u'#') || equals < 0)
            continue;
        const QStringView key = QStringView(line).left(equals).trimmed();
        const QStringView value = QStringView(line).mid(equals + 1).trimmed();
        if (key == QLatin1String("Exec"))
            entry.exec = unescapeValue(value);
        else if (key == QLatin1String("Hidden"))
            entry.hidden = value == QLatin1String("true");
    }
    return entry;
}

bool isFieldCode(QChar c)
{
    return QStringView(u"fFuUdDnNickvm").contains(c);
}

} // namespace

std::optional<QString> findLimnoraApp()
{
    for (const char* id : limnoraDesktopEntryIDs) {
        const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, QLatin1String(id));
        if (path.isEmpty())
            continue;
        const auto entry = readDesktopEntry(path);
        if (entry && !entry->hidden)
            return path;
    }
    if (QFileInfo::exists(QLatin1String(limnoraSystemExecutable)))
        return QLatin1String(limnoraSystemExecutable);
    const QString appImage = QDir::homePath() + QLatin1String(limnoraHomeAppImage);
    if (QFileInfo::exists(appImage))
        return appImage;
    return std::nullopt;
}

QStringList desktopExecArguments(const QString& exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    bool onlyFieldCodes = true; // an argument made only of field codes is dropped whole
    const auto endArgument = [&] {
        if (inArgument && !(onlyFieldCodes && current.isEmpty()))
            arguments.append(current);
        current.clear();
        inArgument = false;
        onlyFieldCodes = true;
    };
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && i + 1 < exec.size() && QStringView(u"\"`$\\").contains(exec[i + 1])) {
                current.append(exec[++i]);
            } else {
                current.append(c);
            }
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            endArgument();
            continue;
        }
        inArgument = true;
        if (c == u'"') {
            quoted = true;
            onlyFieldCodes = false;
        } else if (c == u'%' && i + 1 < exec.size() && exec[i + 1] == u'%') {
            current.append(u'%');
            onlyFieldCodes = false;
            ++i;
        } else if (c == u'%' && i + 1 < exec.size() && isFieldCode(exec[i + 1])) {
            ++i;
        } else {
            current.append(c);
            onlyFieldCodes = false;
        }
    }
    endArgument();
    return arguments;
}

bool launchApplication(const QString& location)
{
    if (!location.endsWith(QLatin1String(".desktop")))
        return QProcess::startDetached(location, {});
    const auto entry = readDesktopEntry(location);
    if (!entry)
        return false;
    const QStringList command = desktopExecArguments(entry->exec);
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.first(), command.mid(1));
}

bool openLimnoraIfInstalled()
{
    const auto location = findLimnoraApp();
    if (!location)
        return false;
    // A failed start is only noted: the request goes out anyway.
    if (!launchApplication(*location))
        qCWarning(lcApi) << "cannot start Limnora from" << *location;
    return true;
}

} // namespace limnoscope
