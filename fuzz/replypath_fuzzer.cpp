// libFuzzer target over the reply path: any bytes from the line, as the reply
// to the link test's query or to a block's, must give exactly the lines the
// operator is owed, and a verdict that matches them.
#include "replycheck.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_replypath";
    static char *argv[] = {name, nullptr};
    // The waits handle pending events: give them an application to handle them in.
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString failures = replycheck::check(replycheck::decode(data, size));
    if (!failures.isEmpty()) {
        std::fputs(failures.toLocal8Bit().constData(), stderr);
        std::abort();
    }
    return 0;
}
