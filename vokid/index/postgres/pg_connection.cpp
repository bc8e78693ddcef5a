#include "vokid/index/postgres/pg_connection.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "vokid/index/index_error.h"
#include "vokid/index/postgres/pg_schema.h"

namespace vokid {

namespace {

// SQLSTATE class 53100: the server's disk is full.
constexpr const char *kDiskFull = "53100";

void putBigEndian(std::string &out, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>(value >> (8 * i) & 0xFFu));
}

uint64_t bigEndian(const char *bytes, int count)
{
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | static_cast<uint8_t>(bytes[i]);
    return value;
}

// The cause of a failed statement: its primary message, or the
// connection's when there is none (a connection lost).
std::string causeOf(PGresult *result, PGconn *conn)
{
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (primary && *primary)
        return firstLine(primary);
    return firstLine(PQerrorMessage(conn));
}

bool diskFull(PGresult *result)
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state && std::strcmp(state, kDiskFull) == 0;
}

} // namespace

std::string firstLine(const char *message)
{
    std::string line = message ? message : "";
    line = line.substr(0, line.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    return line.empty() ? "no cause given" : line;
}

PgParams &PgParams::add(std::string value)
{
    values.push_back(std::move(value));
    sizes.push_back(static_cast<int>(values.back().size()));
    binary.push_back(1);
    return *this;
}

const char *const *PgParams::data() const
{
    pointers.clear();
    for (const std::string &each : values)
        pointers.push_back(each.data());
    return pointers.data();
}

PgParams &PgParams::int4(int32_t value)
{
    std::string out;
    putBigEndian(out, static_cast<uint32_t>(value), 4);
    return add(std::move(out));
}

PgParams &PgParams::int8(int64_t value)
{
    std::string out;
    putBigEndian(out, static_cast<uint64_t>(value), 8);
    return add(std::move(out));
}

PgParams &PgParams::float8(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return int8(static_cast<int64_t>(bits));
}

PgParams &PgParams::bytes(std::string_view value)
{
    return add(std::string(value));
}

// An array's binary form: dimensions, null flag, element type, then per
// dimension its size and lower bound, then each element's length and
// value.
namespace {

template <class Element>
std::string arrayOf(const std::vector<Element> &elements, uint32_t type)
{
    constexpr int kBytes = static_cast<int>(sizeof(Element));
    std::string out;
    putBigEndian(out, elements.empty() ? 0 : 1, 4); // an empty array has no dimension
    putBigEndian(out, 0, 4);                        // no nulls
    putBigEndian(out, type, 4);
    if (elements.empty())
        return out;
    putBigEndian(out, elements.size(), 4);
    putBigEndian(out, 1, 4); // lower bound
    out.reserve(out.size() + (4 + kBytes) * elements.size());
    for (Element element : elements) {
        putBigEndian(out, kBytes, 4);
        putBigEndian(out, static_cast<std::make_unsigned_t<Element>>(element), kBytes);
    }
    return out;
}

} // namespace

PgParams &PgParams::int4Array(const std::vector<int32_t> &elements)
{
    constexpr uint32_t kInt4Type = 23;
    return add(arrayOf(elements, kInt4Type));
}

PgParams &PgParams::int8Array(const std::vector<int64_t> &elements)
{
    constexpr uint32_t kInt8Type = 20;
    return add(arrayOf(elements, kInt8Type));
}

int32_t PgResult::int4(int row, int column) const
{
    if (PQgetlength(held.get(), row, column) != 4)
        throw IndexError("the PostgreSQL server answered with a value of another type");
    return static_cast<int32_t>(bigEndian(PQgetvalue(held.get(), row, column), 4));
}

double PgResult::float8(int row, int column) const
{
    const auto bits = static_cast<uint64_t>(int8(row, column));
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int64_t PgResult::int8(int row, int column) const
{
    if (PQgetlength(held.get(), row, column) != 8)
        throw IndexError("the PostgreSQL server answered with a value of another type");
    return static_cast<int64_t>(bigEndian(PQgetvalue(held.get(), row, column), 8));
}

bool PgResult::boolean(int row, int column) const
{
    const char *value = PQgetvalue(held.get(), row, column);
    // Binary results give one byte; text results "t" or "f".
    return value[0] == 1 || value[0] == 't';
}

std::string_view PgResult::bytes(int row, int column) const
{
    return std::string_view(PQgetvalue(held.get(), row, column),
                            static_cast<size_t>(PQgetlength(held.get(), row, column)));
}

uint64_t PgResult::affected() const
{
    const char *count = PQcmdTuples(held.get());
    return count && *count ? std::stoull(count) : 0;
}

PgConnection::PgConnection(const std::string &location) : conn(PQconnectdb(location.c_str()))
{
    if (!conn)
        throw IndexError("cannot connect to the PostgreSQL server: out of memory");
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw IndexError("cannot connect to the PostgreSQL server: " +
                         firstLine(PQerrorMessage(conn.get())));
    // Notices (a table that exists already) are not the user's business.
    PQsetNoticeProcessor(conn.get(), [](void *, const char *) {}, nullptr);
}

PgResult PgConnection::checked(PGresult *raw, const char *doing)
{
    PgResult result(raw);
    const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN)
        return result;
    std::string why = causeOf(raw, conn.get());
    if (explainer)
        why = explainer(why);
    const std::string cause = std::string("cannot ") + doing + ": " + why;
    if (diskFull(raw))
        throw NoSpaceError(cause);
    throw IndexError(cause);
}

PgResult PgConnection::exec(const std::string &sql, const char *doing)
{
    return checked(PQexec(conn.get(), sql.c_str()), doing);
}

void PgConnection::rollback() noexcept
{
    if (PQtransactionStatus(conn.get()) == PQTRANS_IDLE)
        return;
    PQclear(PQexec(conn.get(), "ROLLBACK"));
}

void PgConnection::prepare(const char *name, const char *doing)
{
    if (prepared.count(name))
        return;
    const char *sql = statements ? statements(name) : statementText(name);
    checked(PQprepare(conn.get(), name, sql, 0, nullptr), doing);
    prepared.insert(name);
}

PgResult PgConnection::run(const char *name, const PgParams &params, const char *doing)
{
    prepare(name, doing);
    return checked(PQexecPrepared(conn.get(), name, params.count(), params.data(),
                                  params.lengths(), params.formats(), 1),
                   doing);
}

PgResult PgConnection::runText(const std::string &sql, const PgParams &params, const char *doing)
{
    return checked(PQexecParams(conn.get(), sql.c_str(), params.count(), nullptr, params.data(),
                                params.lengths(), params.formats(), 1),
                   doing);
}

void PgConnection::copyIn(const std::string &copy, const std::string &rows, const char *doing)
{
    exec(copy, doing);
    const bool sent = PQputCopyData(conn.get(), rows.data(), static_cast<int>(rows.size())) == 1;
    // The copy is ended whatever happened, so that the connection leaves
    // the copy state; an error then comes with the result.
    const bool ended = PQputCopyEnd(conn.get(), sent ? nullptr : "the rows were not sent") == 1;
    std::unique_ptr<PGresult, void (*)(PGresult *)> last(nullptr, PQclear);
    while (PGresult *result = PQgetResult(conn.get()))
        last.reset(result);
    if (!ended)
        throw IndexError(std::string("cannot ") + doing + ": " +
                         firstLine(PQerrorMessage(conn.get())));
    checked(last.release(), doing);
}

PgCopyRows::PgCopyRows()
{
    data.append("PGCOPY\n\377\r\n\0", 11);
    putBigEndian(data, 0, 4); // flags
    putBigEndian(data, 0, 4); // no header extension
}

void PgCopyRows::row(std::initializer_list<int32_t> fields)
{
    putBigEndian(data, fields.size(), 2);
    for (int32_t field : fields) {
        putBigEndian(data, 4, 4);
        putBigEndian(data, static_cast<uint32_t>(field), 4);
    }
}

std::string PgCopyRows::rows()
{
    putBigEndian(data, 0xFFFFu, 2); // the trailer: a field count of -1
    return std::move(data);
}

} // namespace vokid
