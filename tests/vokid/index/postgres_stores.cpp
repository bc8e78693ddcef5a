#include "tests/vokid/index/postgres_stores.h"

#include <gtest/gtest.h>

#include "tests/support/pg_cluster.h"
#include "vokid/index/postgres/postgres_store.h"

namespace vokid_test {

namespace {

class PostgresEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string missing = vok_test::postgres_missing();
        if (!missing.empty())
            GTEST_SKIP() << missing;
        try {
            vok_test::shared_cluster();
        } catch (const std::exception &error) {
            FAIL() << "cannot start a PostgreSQL cluster: " << error.what();
        }
    }
};

::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

} // namespace

std::string newDatabaseName()
{
    return vok_test::shared_cluster().create_database();
}

std::string newDatabase()
{
    return vok_test::shared_cluster().uri(newDatabaseName());
}

std::unique_ptr<vokid::IndexStore> postgresStore(const vok_test::TempDir &, uint32_t step)
{
    return vokid::openPostgresStore(newDatabase(), vokid::StoreAccess::Write, step);
}

} // namespace vokid_test
