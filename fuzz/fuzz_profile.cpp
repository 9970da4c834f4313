// Profile files come from anywhere: reading one never goes wrong, and what it
// accepts is a sound configuration that comes back from its own profile.
#include "core/config/moduleconfig.h"
#include "core/config/profile.h"
#include "fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ModuleConfig config;
    QString error;
    if (!Profile::read(fuzzBytes(data, size), &config, &error)) {
        // Every problem is named, one line each.
        FUZZ_CHECK(!error.isEmpty() && !error.split(QLatin1Char('\n')).contains(QString()));
        FUZZ_CHECK(config == ModuleConfig()); // a refused file changes nothing
        return 0;
    }
    FUZZ_CHECK(Config::check(config).isEmpty());
    const QByteArray written = Profile::write(config);
    ModuleConfig again;
    FUZZ_CHECK(Profile::read(written, &again, &error));
    FUZZ_CHECK(again == config);
    FUZZ_CHECK(Profile::write(again) == written);
    return 0;
}
