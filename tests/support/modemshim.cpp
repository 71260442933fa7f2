#include "modemshim.h"

#include <QFile>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

template<typename Fn>
Fn shimFunction(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

constexpr const char *kRestartedVar = "MODEMSHIM_RESTARTED";

} // namespace

namespace ModemShim {

bool sanitized()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

bool loaded()
{
    return shimFunction<void (*)(int)>("modemshim_set_lines") != nullptr;
}

void preload(const char *shimPath, char **argv)
{
    if (loaded() || !shimPath || !*shimPath || std::getenv(kRestartedVar) || access(shimPath, R_OK) != 0)
        return;
    std::string preloadList = shimPath;
    if (const char *existing = std::getenv("LD_PRELOAD"); existing && *existing)
        preloadList += std::string(":") + existing;
    setenv("LD_PRELOAD", preloadList.c_str(), 1);
    setenv(kRestartedVar, "1", 1);
    if (sanitized()) {
        // The shim comes ahead of the sanitizer runtime in the library list.
        std::string options = "verify_asan_link_order=0";
        if (const char *existing = std::getenv("ASAN_OPTIONS"); existing && *existing)
            options = std::string(existing) + ":" + options;
        setenv("ASAN_OPTIONS", options.c_str(), 1);
    }
    execv("/proc/self/exe", argv);
    // The restart failed: go on without the shim; the tests that need it skip.
}

bool setInputs(int tiocmBits)
{
    const auto set = shimFunction<void (*)(int)>("modemshim_set_lines");
    if (!set)
        return false;
    set(tiocmBits);
    return true;
}

void release()
{
    if (const auto fn = shimFunction<void (*)()>("modemshim_release"))
        fn();
}

int lines()
{
    const auto fn = shimFunction<int (*)()>("modemshim_lines");
    return fn ? fn() : 0;
}

bool writeStateFile(const QString &path, int tiocmBits)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(QByteArray::number(tiocmBits) + '\n') > 0;
}

} // namespace ModemShim
