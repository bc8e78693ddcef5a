#include "tests/support/pg_cluster.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <stdexcept>

#include <libpq-fe.h>

#include "tests/support/subprocess.h"

namespace vok_test {

const char *const kPostgresBin = "/usr/lib/postgresql/15/bin";

namespace {

std::string data_folder(const TempDir &dir)
{
    return dir.file("data");
}

} // namespace

int unused_loopback_port()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool given = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    if (fd >= 0)
        close(fd);
    if (!given)
        throw std::runtime_error("cannot find a free loopback port");
    return ntohs(address.sin_port);
}

std::string postgres_missing()
{
    const std::string initdb = std::string(kPostgresBin) + "/initdb";
    if (access(initdb.c_str(), X_OK) != 0)
        return initdb + " is not installed (apt-get install postgresql-15)";
    if (geteuid() == 0 && !getpwnam("postgres"))
        return "there is no postgres account to run PostgreSQL as (it refuses root)";
    return "";
}

PgCluster::PgCluster()
{
    if (geteuid() == 0) {
        const struct passwd *account = getpwnam("postgres");
        if (!account)
            throw std::runtime_error(postgres_missing());
        as_postgres = true;
        uid = account->pw_uid;
        gid = account->pw_gid;
        if (chown(dir.path().c_str(), uid, gid) != 0)
            throw std::runtime_error("cannot give the cluster's folder to postgres");
    }
    run_server_program("initdb", {"-D", data_folder(dir), "-U", "postgres", "-A", "trust",
                                  "-E", "UTF8", "--locale=C", "--no-sync", "--no-instructions"});
    configure();
    start();
}

void PgCluster::start()
{
    if (started)
        return;
    run_server_program("pg_ctl", {"-D", data_folder(dir), "-l", dir.file("server.log"), "-w",
                                  "-t", "60", "start"});
    started = true;
}

void PgCluster::stop()
{
    if (!started)
        return;
    run_server_program("pg_ctl", {"-D", data_folder(dir), "-m", "immediate", "-w", "stop"});
    started = false;
}

// Appended to the configuration initdb wrote, so that no value passes
// through a shell.
void PgCluster::configure()
{
    std::ofstream conf(data_folder(dir) + "/postgresql.conf", std::ios::app);
    conf << "listen_addresses = ''\n"
         << "unix_socket_directories = '" << dir.path() << "'\n"
         << "port = 5432\n"
         << "fsync = off\n"
         << "synchronous_commit = off\n"
         << "full_page_writes = off\n"
         << "shared_buffers = 32MB\n";
    if (!conf)
        throw std::runtime_error("cannot configure the cluster");
}

// Stopped at once (the data is thrown away), also after a failed test.
PgCluster::~PgCluster()
{
    if (!started)
        return;
    try {
        run_server_program("pg_ctl", {"-D", data_folder(dir), "-m", "immediate", "-w", "stop"});
    } catch (const std::exception &) {
    }
}

void PgCluster::run_server_program(const std::string &program,
                                   const std::vector<std::string> &args)
{
    const std::string path = std::string(kPostgresBin) + "/" + program;
    RunOptions options;
    options.as_user = as_postgres;
    options.uid = uid;
    options.gid = gid;
    options.working_directory = dir.path(); // the caller's may be closed to postgres
    const RunResult result = run_program(path, args, options);
    if (result.exit_code != 0)
        throw std::runtime_error(program + " failed (" + std::to_string(result.exit_code) +
                                 "): " + result.err + result.out);
}

std::string PgCluster::uri(const std::string &database) const
{
    return "postgresql://postgres@/" + database + "?host=" + dir.path() + "&port=5432";
}

std::string PgCluster::create_database()
{
    const std::string name = "t_" + std::to_string(++databases);
    sql("postgres", "CREATE DATABASE " + name);
    return name;
}

namespace {

using Result = std::unique_ptr<PGresult, void (*)(PGresult *)>;

// The statement's result; throws std::runtime_error with the server's
// message when it fails.
Result run(const std::string &uri, const std::string &statement)
{
    const std::unique_ptr<PGconn, void (*)(PGconn *)> conn(PQconnectdb(uri.c_str()), PQfinish);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error("cannot connect to the cluster: " +
                                 std::string(PQerrorMessage(conn.get())));
    Result result(PQexec(conn.get(), statement.c_str()), PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(statement + ": " + PQerrorMessage(conn.get()));
    return result;
}

} // namespace

void PgCluster::sql(const std::string &database, const std::string &statement) const
{
    run(uri(database), statement);
}

std::string PgCluster::query(const std::string &database, const std::string &statement) const
{
    const Result result = run(uri(database), statement);
    std::string lines;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        lines += std::string(PQgetvalue(result.get(), row, 0)) + "\n";
    return lines;
}

PgCluster &shared_cluster()
{
    static PgCluster cluster;
    return cluster;
}

} // namespace vok_test
