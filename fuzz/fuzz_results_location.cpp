// The results database URL of any text: refused with a reason, leaving the location as it
// was, or read as a PostgreSQL location with a user, a host, a port and one database name,
// whose name for the user is a URL of the same place without the password.
#include "fuzzcheck.h"
#include "results/resultsstore.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    ResultsLocation location = ResultsLocation::sqlite(QStringLiteral("untouched.db"));
    QString error;
    if (!ResultsLocation::parse(text, &location, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        FUZZ_CHECK(location.kind == ResultsLocation::Kind::Sqlite && location.file == QLatin1String("untouched.db"));
        return 0;
    }
    FUZZ_CHECK(location.kind == ResultsLocation::Kind::PostgreSql);
    FUZZ_CHECK(!location.host.isEmpty() && !location.user.isEmpty() && !location.database.isEmpty());
    FUZZ_CHECK(!location.database.contains(QLatin1Char('/')));
    FUZZ_CHECK(location.port >= 0 && location.port <= 65535);

    ResultsLocation shown;
    QString shownError;
    FUZZ_CHECK(ResultsLocation::parse(location.displayName(), &shown, &shownError));
    FUZZ_CHECK(shown.password.isEmpty());
    FUZZ_CHECK(shown.host == location.host && shown.port == location.port && shown.user == location.user
               && shown.database == location.database);
    return 0;
}
