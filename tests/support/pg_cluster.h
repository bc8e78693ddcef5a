// A throw-away PostgreSQL 15 cluster for the tests: made with initdb in a
// temporary folder, served by pg_ctl on a Unix socket in that folder only
// (no TCP port, so that test programs run side by side never meet), with
// trust for local connections and no fsync; stopped and removed with the
// object. PostgreSQL refuses to run as root: as root, its programs run as
// the postgres account, which is given the folder.
#ifndef VOK_TESTS_SUPPORT_PG_CLUSTER_H
#define VOK_TESTS_SUPPORT_PG_CLUSTER_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/wav_writer.h"

namespace vok_test {

// Where PostgreSQL 15's server programs are (Debian's postgresql-15).
extern const char *const kPostgresBin;

// A loopback TCP port nothing listens on: one the system just gave and
// took back.
int unused_loopback_port();

// Why a cluster cannot be made here ("... is not installed"), or empty.
std::string postgres_missing();

class PgCluster {
public:
    // Throws std::runtime_error with what initdb or pg_ctl wrote.
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // A libpq URI of a database, as the cluster's superuser "postgres".
    std::string uri(const std::string &database) const;
    // A new, empty database ("t_1", "t_2", ...); its name.
    std::string create_database();
    // Runs SQL on a database; throws std::runtime_error with the server's
    // message when it fails.
    void sql(const std::string &database, const std::string &statement) const;
    // The first column of a query's rows, as text, one line each.
    std::string query(const std::string &database, const std::string &statement) const;

    // Stops the server at once (as a crash would), and starts it again on
    // the same socket: a shard that goes down mid-run. The destructor
    // stops a started server only.
    void stop();
    void start();

private:
    void run_server_program(const std::string &program, const std::vector<std::string> &args);
    void configure();

    TempDir dir;
    bool as_postgres = false; // the process is root
    uid_t uid = 0;
    gid_t gid = 0;
    unsigned databases = 0;
    bool started = false;
};

// The cluster of the whole test program, made on first use and stopped
// when the program ends.
PgCluster &shared_cluster();

} // namespace vok_test

#endif
