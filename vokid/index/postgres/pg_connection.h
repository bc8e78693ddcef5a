// One connection to a PostgreSQL server through libpq, for the store in
// PostgreSQL: statements prepared once per connection (by name, the first
// time each is run), parameters and results in binary, bulk rows through
// COPY, and every failure as an IndexError with one line naming the cause.
#ifndef VOKID_INDEX_POSTGRES_PG_CONNECTION_H
#define VOKID_INDEX_POSTGRES_PG_CONNECTION_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <libpq-fe.h>

namespace vokid {

// The first line of a libpq message, without its trailing spaces.
std::string firstLine(const char *message);

// A statement's parameters, each sent in binary (network byte order).
class PgParams {
public:
    PgParams &int4(int32_t value);
    PgParams &int8(int64_t value);
    PgParams &float8(double value);
    PgParams &bytes(std::string_view value);
    // A one-dimensional int4[] of `values`.
    PgParams &int4Array(const std::vector<int32_t> &values);
    PgParams &int8Array(const std::vector<int64_t> &values);

    int count() const { return static_cast<int>(values.size()); }
    // Valid until the parameters change (or are copied: a copy has its own).
    const char *const *data() const;
    const int *lengths() const { return sizes.data(); }
    const int *formats() const { return binary.data(); }

private:
    PgParams &add(std::string value);

    std::vector<std::string> values;
    mutable std::vector<const char *> pointers;
    std::vector<int> sizes;
    std::vector<int> binary;
};

// A result, cleared with the object; its values read in binary.
class PgResult {
public:
    explicit PgResult(PGresult *result) : held(result) {}
    int rows() const { return PQntuples(held.get()); }
    bool null(int row, int column) const { return PQgetisnull(held.get(), row, column) != 0; }
    int32_t int4(int row, int column) const;
    int64_t int8(int row, int column) const;
    double float8(int row, int column) const;
    bool boolean(int row, int column) const;
    std::string_view bytes(int row, int column) const;
    // The rows a statement wrote or removed.
    uint64_t affected() const;
    // The command's tag ("COMMIT", "ROLLBACK", "INSERT 0 1").
    std::string tag() const { return PQcmdStatus(held.get()); }
    PGresult *get() const { return held.get(); }

private:
    struct Clear {
        void operator()(PGresult *result) const { PQclear(result); }
    };
    std::unique_ptr<PGresult, Clear> held;
};

class PgConnection {
public:
    // Throws IndexError ("cannot connect to the PostgreSQL server: ...").
    explicit PgConnection(const std::string &location);
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Statements without parameters (more than one may be given), text
    // results; the last statement's result. `doing` names the work in the
    // error: "cannot DOING: CAUSE".
    PgResult exec(const std::string &sql, const char *doing);
    // A statement of the store's (pg_schema.h), by name, prepared on this
    // connection the first time; binary results.
    PgResult run(const char *name, const PgParams &params, const char *doing);
    // A statement given as text, with parameters, not prepared; binary
    // results (the sharded index's reads of chosen partitions).
    PgResult runText(const std::string &sql, const PgParams &params, const char *doing);
    // Rows in COPY's binary form (PgCopyRows) into a table through `copy`
    // ("COPY ... FROM STDIN (FORMAT binary)").
    void copyIn(const std::string &copy, const std::string &rows, const char *doing);

    // Ends the transaction open on the connection, if any, keeping nothing
    // of it; never throws (a connection that fails it is left unhealthy).
    void rollback() noexcept;

    // Whether the server has closed the connection.
    bool broken() const { return PQstatus(conn.get()) != CONNECTION_OK; }
    // Whether the connection may serve another view or batch: it still
    // stands and has no transaction open.
    bool reusable() const
    {
        return PQstatus(conn.get()) == CONNECTION_OK &&
               PQtransactionStatus(conn.get()) == PQTRANS_IDLE;
    }
    // The server's version as libpq gives it (150004 for 15.4).
    int serverVersion() const { return PQserverVersion(conn.get()); }
    // libpq's own connection, for what it tells of it (host, user...).
    PGconn *native() const { return conn.get(); }

    // The SQL of the store's statements by name (statementText by
    // default): a sharded index has some of its own (pg_shards.h).
    void useStatements(const char *(*text)(const char *name)) { statements = text; }
    // Rewrites a failure's cause before it is thrown (a shard's server
    // named by its location); none by default.
    void explainCauses(std::function<std::string(const std::string &cause)> explain)
    {
        explainer = std::move(explain);
    }

private:
    void prepare(const char *name, const char *doing);
    PgResult checked(PGresult *result, const char *doing);

    struct Finish {
        void operator()(PGconn *connection) const { PQfinish(connection); }
    };
    std::unique_ptr<PGconn, Finish> conn;
    std::set<std::string> prepared;
    const char *(*statements)(const char *name) = nullptr;
    std::function<std::string(const std::string &cause)> explainer;
};

// Rows of int4 fields in COPY's binary form: the header, then each row
// added, then the trailer by rows().
class PgCopyRows {
public:
    PgCopyRows();
    void row(std::initializer_list<int32_t> fields);
    std::string rows();

private:
    std::string data;
};

} // namespace vokid

#endif
