// Indexes in PostgreSQL for the tests: each in a new database of the test
// program's one cluster (tests/support/pg_cluster.h), which a global test
// environment starts before the first test; every test skips, with the
// reason, where PostgreSQL 15 is not installed.
#ifndef VOK_TESTS_VOKID_INDEX_POSTGRES_STORES_H
#define VOK_TESTS_VOKID_INDEX_POSTGRES_STORES_H

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/wav_writer.h"
#include "vokid/index/index_store.h"

namespace vokid_test {

// The name of a new, empty database of the cluster, and its URI.
std::string newDatabaseName();
std::string newDatabase();

// A new index of `step` in a new database (`dir` is not used: the
// cluster keeps the files).
std::unique_ptr<vokid::IndexStore> postgresStore(const vok_test::TempDir &dir, uint32_t step);

} // namespace vokid_test

#endif
