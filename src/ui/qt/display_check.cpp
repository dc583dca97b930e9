#include "ui/qt/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <QStringList>

#include <cstdlib>
#include <cstring>

namespace lumafex::ui {

namespace {

constexpr char kPlatformInterface[] =
    "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3";

// The platforms a new application tries, in order: QT_QPA_PLATFORM's list
// when it is set, else the session's kind and X. A name may carry options
// after a colon.
QStringList PlatformsToTry() {
    const QString chosen = qEnvironmentVariable("QT_QPA_PLATFORM");
    QStringList names;
    if (!chosen.isEmpty()) {
        for (const QString& entry : chosen.split(u';', Qt::SkipEmptyParts)) {
            names << entry.section(u':', 0, 0);
        }
        return names;
    }
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland") names << QStringLiteral("wayland");
    names << QStringLiteral("xcb");
    return names;
}

// The platform names a plug-in serves (none unless it is a platform
// plug-in). Qt matches them without regard to case.
QStringList PlatformKeys(const QJsonObject& meta) {
    QStringList names;
    if (meta.value(QStringLiteral("IID")).toString() != QLatin1String(kPlatformInterface)) {
        return names;
    }
    const QJsonArray keys =
        meta.value(QStringLiteral("MetaData")).toObject().value(QStringLiteral("Keys")).toArray();
    for (const auto& key : keys) names << key.toString();
    return names;
}

// Where Qt looks for platform plug-ins: QT_QPA_PLATFORM_PLUGIN_PATH, then
// the "platforms" folder of every library path.
QStringList PluginFolders() {
    QStringList folders;
    const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!own.isEmpty()) folders << own;
    for (const QString& path : QCoreApplication::libraryPaths()) {
        folders << path + QStringLiteral("/platforms");
    }
    return folders;
}

// Empty when the plug-in of the platform is built in or loads; else why not.
// Only the plug-ins' metadata is read until the one that matches is found.
QString LoadPlatformPlugin(const QString& name) {
    QStringList known;
    for (const QStaticPlugin& plugin : QPluginLoader::staticPlugins()) {
        const QStringList keys = PlatformKeys(plugin.metaData());
        if (keys.contains(name, Qt::CaseInsensitive)) return {};
        known << keys;
    }
    for (const QString& folder : PluginFolders()) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
            if (!QLibrary::isLibrary(file)) continue;
            QPluginLoader loader(dir.absoluteFilePath(file));
            const QStringList keys = PlatformKeys(loader.metaData());
            known << keys;
            if (!keys.contains(name, Qt::CaseInsensitive)) continue;
            // Loaded now as Qt would load it next; it stays loaded for Qt.
            if (loader.load()) return {};
            return QStringLiteral("its plug-in does not load (%1)").arg(loader.errorString());
        }
    }
    known.removeDuplicates();
    known.sort();
    return QStringLiteral("Qt has no plug-in for it (it has: %1)")
        .arg(known.isEmpty() ? QStringLiteral("none") : known.join(QStringLiteral(", ")));
}

// The X server of DISPLAY, reached the way the X platform reaches it (any
// display name, local or remote, with its authorisation).
QString ConnectToX() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return QStringLiteral("DISPLAY is not set");
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error == 0) return {};
    if (error == XCB_CONN_CLOSED_PARSE_ERR) {
        return QStringLiteral("DISPLAY \"%1\" is not a display name").arg(QString::fromLocal8Bit(display));
    }
    if (error == XCB_CONN_CLOSED_INVALID_SCREEN) {
        return QStringLiteral("display \"%1\" has no such screen").arg(QString::fromLocal8Bit(display));
    }
    return QStringLiteral("no X server accepts a connection at display \"%1\"")
        .arg(QString::fromLocal8Bit(display));
}

// The Wayland compositor's socket: WAYLAND_DISPLAY (wayland-0 when unset)
// in XDG_RUNTIME_DIR, or the path it names.
QString ConnectToWayland() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_SOCKET")) return {};  // handed over already open
    QString name = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    if (!name.startsWith(u'/')) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) return QStringLiteral("XDG_RUNTIME_DIR is not set");
        name = runtime + u'/' + name;
    }
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(path.size()) >= sizeof address.sun_path) {
        return QStringLiteral("the socket path %1 is too long").arg(name);
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return QStringLiteral("no socket can be made");
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (connected) return {};
    return QStringLiteral("no Wayland compositor accepts a connection at %1").arg(name);
}

// Empty when the platform can start; else why not.
QString PlatformProblem(const QString& name) {
    if (QString problem = LoadPlatformPlugin(name); !problem.isEmpty()) return problem;
    if (name.compare(u"xcb", Qt::CaseInsensitive) == 0) return ConnectToX();
    if (name.compare(u"wayland", Qt::CaseInsensitive) == 0) return ConnectToWayland();
    return {};  // offscreen, minimal, ...: no display server to reach
}

}  // namespace

std::string QtDisplayProblem() {
    QStringList reasons;
    for (const QString& name : PlatformsToTry()) {
        const QString problem = PlatformProblem(name);
        if (problem.isEmpty()) return {};
        reasons << QStringLiteral("platform \"%1\": %2").arg(name, problem);
    }
    if (reasons.isEmpty()) reasons << QStringLiteral("QT_QPA_PLATFORM names no platform");
    return reasons.join(QStringLiteral("; ")).toStdString();
}

}  // namespace lumafex::ui
