#include "net/NetworkBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cstdio>
#include <dlfcn.h>

QStringList NetworkBackend::modulePaths()
{
    // Installed: the module's folder relative to the programs' folder, so a
    // package unpacked anywhere finds its own. Then the build tree the
    // program came from.
    QStringList paths;
    if (QCoreApplication::instance()) {
        paths << QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                                 QStringLiteral(VELMOR_NETWORK_MODULE_FROM_BINDIR));
    }
    paths << QStringLiteral(VELMOR_NETWORK_MODULE_BUILT);
    return paths;
}

namespace {
std::atomic<NetworkBackend *> g_loaded{nullptr};
} // namespace

NetworkBackend *NetworkBackend::ifLoaded()
{
    return g_loaded.load();
}

NetworkBackend *NetworkBackend::instance()
{
    static NetworkBackend *const backend = []() -> NetworkBackend * {
        QString tried;
        for (const QString &path : modulePaths()) {
            if (!QFileInfo(path).isFile())
                continue;
            // Kept open for good: the backend's objects live until exit.
            void *module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                tried = QString::fromLocal8Bit(::dlerror());
                continue;
            }
            const auto entry =
                reinterpret_cast<VelmorNetworkBackendEntry>(::dlsym(module, kNetworkBackendEntry));
            if (NetworkBackend *found = entry ? entry() : nullptr) {
                g_loaded = found;
                return found;
            }
            ::dlclose(module);
        }
        std::fprintf(stderr, "velmor: the network module is missing or broken%s%s\n",
                     tried.isEmpty() ? "" : ": ", qPrintable(tried));
        return nullptr;
    }();
    return backend;
}
