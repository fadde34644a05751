#include "settings/SAUtilRegistry.h"

#include "core/SALog.h"
#include "settings/SAUtilUtf16.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
enum class Store
{
    Persistent,
    Volatile
};

struct BusyWaiter
{
    std::atomic<bool>* locked;
    std::chrono::steady_clock::time_point begun;
};

struct StoreConnection
{
    std::string path;
    sqlite3* db = nullptr;
    pid_t pid = 0;
    // A statement found the file damaged: the next use opens it again, which
    // sets the damaged file aside.
    bool damaged = false;
    // Another process held the store locked for a whole wait: later uses
    // wait only briefly until one gets through, instead of freezing their
    // caller (the window thread) for the full time each.
    std::atomic<bool> locked{false};
    BusyWaiter waiter{&locked, {}};
};

// Guards both cached connections; held for the whole of each public operation
// so that the statements of one operation never interleave with another
// thread's on the same connection.
std::mutex g_Lock;
StoreConnection g_Persistent;
StoreConnection g_Volatile;

constexpr std::chrono::milliseconds BUSY_TIMEOUT{5000};
// The wait while the store is known to be held by another process: long
// enough for an ordinary write of another viewer or the tool to finish.
constexpr std::chrono::milliseconds BUSY_TIMEOUT_LOCKED{100};

// SQLite's busy handler: called again and again while another connection
// holds the lock, with count 0 at the start of each wait.
int BusyWait(void* context, int count)
{
    auto* waiter = static_cast<BusyWaiter*>(context);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0)
        waiter->begun = now;
    const bool locked = waiter->locked->load();
    if (now - waiter->begun >= (locked ? BUSY_TIMEOUT_LOCKED : BUSY_TIMEOUT))
    {
        if (!locked)
            SALog(SA_LOG_FAILURE,
                  "SAUtilRegistry another process holds the store locked: settings are not read or stored "
                  "until it lets go\n");
        waiter->locked->store(true);
        return 0;
    }
    usleep(static_cast<useconds_t>(std::min(count + 1, 10) * 1000));
    return 1;
}

const char* SCHEMA = "CREATE TABLE IF NOT EXISTS registry_keys("
                     " path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);"
                     "CREATE TABLE IF NOT EXISTS registry_values("
                     " path TEXT NOT NULL COLLATE NOCASE,"
                     " name TEXT NOT NULL COLLATE NOCASE,"
                     " type INTEGER NOT NULL,"
                     " data BLOB NOT NULL,"
                     " PRIMARY KEY(path, name));";

bool DamageCode(int result)
{
    result &= 0xFF; // the primary code of an extended one
    return result == SQLITE_CORRUPT || result == SQLITE_NOTADB;
}

void DamageNote(sqlite3* db, int result)
{
    const bool through = result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE;
    if (!through && !DamageCode(result))
        return;
    for (StoreConnection* connection : {&g_Persistent, &g_Volatile})
    {
        if (connection->db != db)
            continue;
        if (through)
            connection->locked.store(false);
        else
            connection->damaged = true;
    }
}

// Prepared statements are kept per connection and reused: preparing one
// costs more than running most of these queries (the SQL parser allocates
// heavily), and a dialog or a list walk reads dozens of values. A statement
// already in use (a nested query with the same text) gets a fresh one.
struct CachedStatement
{
    sqlite3* db;
    std::string sql;
    sqlite3_stmt* statement;
    bool busy;
};
std::mutex g_StatementLock;
std::vector<CachedStatement> g_Statements;

sqlite3_stmt* StatementTake(sqlite3* db, const char* sql)
{
    std::lock_guard<std::mutex> guard(g_StatementLock);
    for (CachedStatement& cached : g_Statements)
    {
        if (cached.db == db && !cached.busy && cached.sql == sql)
        {
            cached.busy = true;
            return cached.statement;
        }
    }
    return nullptr;
}

void StatementKeep(sqlite3* db, const char* sql, sqlite3_stmt* statement)
{
    std::lock_guard<std::mutex> guard(g_StatementLock);
    g_Statements.push_back({db, sql, statement, true});
}

void StatementGiveBack(sqlite3_stmt* statement)
{
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    std::lock_guard<std::mutex> guard(g_StatementLock);
    for (CachedStatement& cached : g_Statements)
    {
        if (cached.statement == statement)
            cached.busy = false;
    }
}

// Drops the statements of a connection; `finalize` false for one inherited
// across fork, which this process must never touch.
void StatementsForget(sqlite3* db, bool finalize)
{
    std::lock_guard<std::mutex> guard(g_StatementLock);
    std::erase_if(g_Statements,
                  [&](const CachedStatement& cached)
                  {
                      if (cached.db != db)
                          return false;
                      if (finalize)
                          sqlite3_finalize(cached.statement);
                      return true;
                  });
}

void StoreClose(sqlite3* db)
{
    StatementsForget(db, true);
    sqlite3_close_v2(db);
}

class Statement
{
public:
    Statement(sqlite3* db, const char* sql) : m_Db(db)
    {
        m_Statement = StatementTake(db, sql);
        if (m_Statement != nullptr)
        {
            m_Result = SQLITE_OK;
            return;
        }
        m_Result = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_Statement, nullptr);
        DamageNote(db, m_Result);
        if (m_Result != SQLITE_OK)
            SALog(SA_LOG_FAILURE, "SAUtilRegistry sqlite3_prepare_v3 failed! %s %d\n", sqlite3_errmsg(db),
                  m_Result);
        else
            StatementKeep(db, sql, m_Statement);
    }
    ~Statement()
    {
        if (m_Result == SQLITE_OK)
            StatementGiveBack(m_Statement);
        else
            sqlite3_finalize(m_Statement);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_Result == SQLITE_OK; }
    void Text(int index, const std::string& text)
    {
        sqlite3_bind_text(m_Statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Integer(int index, int64_t value) { sqlite3_bind_int64(m_Statement, index, value); }
    void Blob(int index, const void* data, uint32_t size)
    {
        // A zero-length blob must still be a blob, not NULL.
        sqlite3_bind_blob(m_Statement, index, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error (logged).
    int Step()
    {
        const int result = sqlite3_step(m_Statement);
        DamageNote(m_Db, result);
        if (result != SQLITE_ROW && result != SQLITE_DONE)
            SALog(SA_LOG_FAILURE, "SAUtilRegistry sqlite3_step failed! %s %d\n", sqlite3_errmsg(m_Db),
                  result);
        return result;
    }
    std::string ColumnText(int column) const
    {
        const unsigned char* text = sqlite3_column_text(m_Statement, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<size_t>(sqlite3_column_bytes(m_Statement, column)))
                    : std::string();
    }
    int64_t ColumnInteger(int column) const { return sqlite3_column_int64(m_Statement, column); }
    std::vector<uint8_t> ColumnBlob(int column) const
    {
        const uint8_t* data = static_cast<const uint8_t*>(sqlite3_column_blob(m_Statement, column));
        const int size = sqlite3_column_bytes(m_Statement, column);
        return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
    }

private:
    sqlite3* m_Db;
    sqlite3_stmt* m_Statement = nullptr;
    int m_Result;
};

bool Execute(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    DamageNote(db, result);
    if (result != SQLITE_OK)
    {
        SALog(SA_LOG_FAILURE, "SAUtilRegistry sqlite3_exec failed! %s %s %d\n", sql, message ? message : "",
              result);
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::string EnvironmentPath(const char* name)
{
    const char* value = getenv(name);
    // Relative or empty values are ignored, as the XDG rules require.
    if (value == nullptr || value[0] != '/')
        return std::string();
    return std::string(value);
}

std::string HomeGet()
{
    std::string home = EnvironmentPath("HOME");
    if (!home.empty())
        return home;
    struct passwd entry;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr)
        return std::string(result->pw_dir);
    return std::string();
}

bool DirectoriesCreate(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1))
    {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
        {
            SALog(SA_LOG_FAILURE, "SAUtilRegistry mkdir failed! %s %d\n", part.c_str(), errno);
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

// The /tmp stand-in for XDG_RUNTIME_DIR must be a directory of our own that
// nobody else can enter; anything else (a planted symlink, a foreign folder)
// is refused.
bool PrivateFolderEnsure(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    {
        SALog(SA_LOG_FAILURE, "SAUtilRegistry mkdir failed! %s %d\n", path.c_str(), errno);
        return false;
    }
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
    {
        SALog(SA_LOG_FAILURE, "SAUtilRegistry failed! %s is not a private folder of this user\n",
              path.c_str());
        return false;
    }
    if ((info.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0)
    {
        SALog(SA_LOG_FAILURE, "SAUtilRegistry chmod failed! %s %d\n", path.c_str(), errno);
        return false;
    }
    return true;
}

std::string StorePathGet(Store store)
{
    if (store == Store::Persistent)
    {
        std::string base = EnvironmentPath("XDG_CONFIG_HOME");
        if (base.empty())
        {
            const std::string home = HomeGet();
            if (home.empty())
                return std::string();
            base = home + "/.config";
        }
        return base + "/harrowfenlab/quillmere/registry.sqlite3";
    }
    std::string base = EnvironmentPath("XDG_RUNTIME_DIR");
    if (base.empty())
    {
        base = "/tmp/quillmere-" + std::to_string(getuid());
        if (!PrivateFolderEnsure(base))
            return std::string();
    }
    return base + "/harrowfenlab/quillmere/registry-volatile.sqlite3";
}

// Whether the store already journals ahead: switching takes a write lock,
// which a reader elsewhere (a store browser on a file in rollback mode)
// would withhold for as long as it reads.
bool StoreInWal(sqlite3* db)
{
    Statement mode(db, "PRAGMA journal_mode;");
    return mode.Ok() && mode.Step() == SQLITE_ROW && mode.ColumnText(0) == "wal";
}

bool StoreSetUp(sqlite3* db, BusyWaiter* waiter)
{
    sqlite3_busy_handler(db, BusyWait, waiter);
    // Switching to WAL and creating the tables take write locks; a second
    // process doing the same at the same moment is waited for, but a store
    // held locked is given up on after one wait.
    const auto deadline = std::chrono::steady_clock::now() + BUSY_TIMEOUT;
    for (;;)
    {
        // A store that cannot be switched now is used as it is; a later
        // start switches it.
        bool wal = StoreInWal(db);
        if (!wal && sqlite3_errcode(db) != SQLITE_BUSY)
            wal = Execute(db, "PRAGMA journal_mode=WAL;");
        if ((wal || sqlite3_errcode(db) == SQLITE_BUSY) && Execute(db, "PRAGMA synchronous=NORMAL;") &&
            Execute(db, SCHEMA))
            return true;
        if ((sqlite3_errcode(db) != SQLITE_BUSY && sqlite3_errcode(db) != SQLITE_LOCKED) ||
            waiter->locked->load() || std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(100 * 1000);
    }
}

// False only when SQLite reports the store's contents damaged (garbage, a
// cut file, broken pages); a store that is merely busy counts as sound.
bool StoreIntact(sqlite3* db)
{
    Statement check(db, "PRAGMA quick_check;");
    if (!check.Ok())
        return !DamageCode(sqlite3_errcode(db));
    const int result = check.Step();
    if (result == SQLITE_ROW)
        return check.ColumnText(0) == "ok";
    return !DamageCode(result);
}

// A store in a folder this process may not write to (an administrator's way
// of fixing a user's settings): its journal files cannot be made, so it can
// neither be set up nor read as usual. It is opened to be read as it stands,
// and changes fail. Null when it cannot be read either.
sqlite3* StoreOpenReadOnly(const std::string& path)
{
    std::string uri = "file:";
    for (char c : path)
    {
        char escaped[4];
        snprintf(escaped, sizeof(escaped), "%%%02X", static_cast<unsigned char>(c));
        uri += (c == '%' || c == '?' || c == '#' || static_cast<unsigned char>(c) < 0x20) ? escaped
                                                                                          : std::string(1, c);
    }
    uri += "?immutable=1";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                        nullptr) == SQLITE_OK &&
        Execute(db, "SELECT 1 FROM registry_keys LIMIT 1; SELECT 1 FROM registry_values LIMIT 1;"))
    {
        SALog(
            SA_LOG_FAILURE,
            "SAUtilRegistry StoreOpen %s is in a folder this process cannot write to: its settings are read, "
            "changes are not stored\n",
            path.c_str());
        return db;
    }
    StoreClose(db);
    return nullptr;
}

// SQLite makes a store's journal files with the store's own mode: a store
// that was write-protected when it was read (an administrator handing out
// prepared settings) left them write-protected too, and they kept the store
// read-only after its own mode was given back. This process's own journal
// files follow the store's mode again.
void StoreJournalModesFollow(const std::string& path)
{
    struct stat store;
    if (stat(path.c_str(), &store) != 0 || access(path.c_str(), W_OK) != 0)
        return;
    for (const char* suffix : {"-wal", "-shm"})
    {
        const std::string journal = path + suffix;
        struct stat side;
        if (stat(journal.c_str(), &side) == 0 && side.st_uid == geteuid() &&
            access(journal.c_str(), W_OK) != 0)
            chmod(journal.c_str(), store.st_mode & 0666);
    }
}

// Opens and sets up the store file; a damaged file is left for the caller
// (damaged true), any other failure is logged here.
sqlite3* StoreOpen(const std::string& path, bool& damaged, BusyWaiter* waiter)
{
    damaged = false;
    StoreJournalModesFollow(path);
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(
        path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (result == SQLITE_OK && StoreSetUp(db, waiter))
    {
        if (StoreIntact(db))
        {
            waiter->locked->store(false);
            return db;
        }
        damaged = true;
    }
    else
    {
        damaged = result == SQLITE_OK && DamageCode(sqlite3_errcode(db));
        if (result == SQLITE_OK && (sqlite3_errcode(db) & 0xFF) == SQLITE_READONLY)
        {
            if (sqlite3* readOnly = StoreOpenReadOnly(path))
            {
                StoreClose(db);
                return readOnly;
            }
        }
    }
    if (!damaged)
        SALog(SA_LOG_FAILURE, "SAUtilRegistry %s failed! %s %s %d\n",
              result != SQLITE_OK ? "sqlite3_open_v2" : "StoreSetUp", path.c_str(),
              db ? sqlite3_errmsg(db) : "", result != SQLITE_OK ? result : sqlite3_errcode(db));
    StoreClose(db);
    return nullptr;
}

// Moves a damaged store file (and its journal files) aside, keeping it for
// a look, so that the settings start again from their defaults instead of
// failing for good. Several processes may find the same damage at once:
// under an exclusive lock on a side file each looks again, and only the
// first moves the file; the others find the fresh store it made and keep it.
bool StoreSetAside(const std::string& path, BusyWaiter* waiter)
{
    const int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
    {
        SALog(SA_LOG_FAILURE, "SAUtilRegistry StoreSetAside open failed! %s.lock %d\n", path.c_str(), errno);
        return false;
    }
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR)
    {
    }
    bool ok = true;
    bool damaged = false;
    if (sqlite3* db = StoreOpen(path, damaged, waiter))
        StoreClose(db);
    if (damaged)
    {
        char stamp[32] = "";
        const time_t now = time(nullptr);
        struct tm local;
        if (localtime_r(&now, &local) != nullptr)
            strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
        const std::string aside = path + ".corrupt-" + stamp + "-" + std::to_string(getpid());
        if (rename(path.c_str(), aside.c_str()) != 0)
        {
            SALog(SA_LOG_FAILURE, "SAUtilRegistry StoreSetAside rename failed! %s %d\n", path.c_str(), errno);
            ok = false;
        }
        else
        {
            // A journal left beside the new store would be applied to it.
            for (const char* suffix : {"-wal", "-shm"})
                rename((path + suffix).c_str(), (aside + suffix).c_str());
            SALog(SA_LOG_FAILURE,
                  "SAUtilRegistry StoreSetAside failed! %s is damaged: set aside as %s, the settings start "
                  "again from their defaults\n",
                  path.c_str(), aside.c_str());
        }
    }
    flock(lock, LOCK_UN);
    close(lock);
    return ok;
}

// The connection of a store for the current environment. With `create`
// false a store file that does not exist yet yields null and
// ERROR_FILE_NOT_FOUND (reads need not create files).
sqlite3* ConnectionGet(Store store, bool create, int32_t& error)
{
    StoreConnection& connection = (store == Store::Persistent) ? g_Persistent : g_Volatile;
    const std::string path = StorePathGet(store);
    if (path.empty())
    {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (connection.db != nullptr && connection.pid != getpid())
    {
        StatementsForget(connection.db, false); // inherited across fork: never touch it
        connection.db = nullptr;
    }
    // Another process may have moved the file aside (finding it damaged) or
    // removed it, and put a new store in its place: changes made through
    // the old file would be lost, so the connection follows the path.
    // Closing a moved file leaves the journal files at the path alone.
    int moved = 0;
    if (connection.db != nullptr && connection.path == path && !connection.damaged &&
        sqlite3_file_control(connection.db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && !moved)
        return connection.db;
    if (connection.db != nullptr)
    {
        StoreClose(connection.db);
        connection.db = nullptr;
    }
    connection.damaged = false;
    if (!create && access(path.c_str(), F_OK) != 0)
    {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (!DirectoriesCreate(path.substr(0, path.rfind('/'))))
    {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    bool damaged = false;
    sqlite3* db = StoreOpen(path, damaged, &connection.waiter);
    if (db == nullptr && damaged && StoreSetAside(path, &connection.waiter))
        db = StoreOpen(path, damaged, &connection.waiter);
    if (db == nullptr)
    {
        error = ERROR_REGISTRY_IO_FAILED;
        return nullptr;
    }
    connection.db = db;
    connection.path = path;
    connection.pid = getpid();
    error = ERROR_SUCCESS;
    return db;
}

bool KeyRowExists(sqlite3* db, const std::string& key, int32_t& error)
{
    Statement query(db, "SELECT 1 FROM registry_keys WHERE path = ?1;");
    if (!query.Ok())
    {
        error = ERROR_REGISTRY_IO_FAILED;
        return false;
    }
    query.Text(1, key);
    const int result = query.Step();
    if (result != SQLITE_ROW && result != SQLITE_DONE)
        error = ERROR_REGISTRY_IO_FAILED;
    return result == SQLITE_ROW;
}

// Finds the store holding `key` (the volatile one first). The root always
// exists and is persistent.
int32_t KeyLocate(const std::string& key, Store& store, sqlite3*& db)
{
    // An unusable volatile store (logged where it failed) hides only the
    // volatile keys; the persistent settings stay readable.
    int32_t error = ERROR_SUCCESS;
    sqlite3* volatileDb = key.empty() ? nullptr : ConnectionGet(Store::Volatile, false, error);
    if (volatileDb != nullptr && KeyRowExists(volatileDb, key, error))
    {
        store = Store::Volatile;
        db = volatileDb;
        return ERROR_SUCCESS;
    }
    error = ERROR_SUCCESS;
    sqlite3* persistentDb = ConnectionGet(Store::Persistent, false, error);
    if (persistentDb == nullptr && key.empty() && error == ERROR_FILE_NOT_FOUND)
    {
        // The root exists even before the store file does; it has no values yet.
        store = Store::Persistent;
        db = nullptr;
        return ERROR_SUCCESS;
    }
    if (persistentDb == nullptr)
        return error;
    if (key.empty() || KeyRowExists(persistentDb, key, error))
    {
        store = Store::Persistent;
        db = persistentDb;
        return ERROR_SUCCESS;
    }
    return error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND;
}

bool KeyRowInsert(sqlite3* db, const std::string& key)
{
    Statement insert(db, "INSERT OR IGNORE INTO registry_keys(path) VALUES(?1);");
    if (!insert.Ok())
        return false;
    insert.Text(1, key);
    return insert.Step() == SQLITE_DONE;
}

// Inside a write transaction on `db`, the store that holds `key`: puts back
// the rows of the key and of every parent, so that a tree deletion committed
// since the key was located or created cannot leave it (and its values)
// without parents, out of reach of enumeration and of deleting the tree. A
// volatile key's parents down to the first volatile one are persistent: those
// go into the persistent store, which is safe because a tree deletion takes
// the volatile store's write lock (held here) before it touches either store.
bool KeyPathRowsInsert(Store store, sqlite3* db, const std::string& key)
{
    bool here = store == Store::Persistent; // this and the remaining rows go into `db`
    sqlite3* persistentDb = nullptr;
    for (size_t end = key.find('\\');; end = key.find('\\', end + 1))
    {
        const std::string prefix = key.substr(0, end);
        const bool leaf = end == std::string::npos;
        int32_t error = ERROR_SUCCESS;
        if (leaf || here)
        {
            if (!KeyRowInsert(db, prefix))
                return false;
        }
        else if (KeyRowExists(db, prefix, error))
        {
            here = true;
        }
        else
        {
            if (error != ERROR_SUCCESS)
                return false;
            if (persistentDb == nullptr)
                persistentDb = ConnectionGet(Store::Persistent, true, error);
            if (persistentDb == nullptr)
                return false;
            // Checked first: an insert takes the persistent store's write lock.
            if (!KeyRowExists(persistentDb, prefix, error) &&
                (error != ERROR_SUCCESS || !KeyRowInsert(persistentDb, prefix)))
                return false;
        }
        if (leaf)
            return true;
    }
}

// Ends the write transaction on `db`: commits when `ok`, else rolls back.
bool TransactionEnd(sqlite3* db, bool ok)
{
    if (ok && Execute(db, "COMMIT;"))
        return true;
    Execute(db, "ROLLBACK;");
    return false;
}

// Creates the missing components of `key`, all in one transaction; only the
// leaf takes `options`. A key below a volatile key is volatile.
int32_t KeyCreateLocked(const std::string& key, uint32_t options, Store& store, sqlite3*& db)
{
    if (key.empty())
    {
        int32_t error = ERROR_SUCCESS;
        store = Store::Persistent;
        db = ConnectionGet(Store::Persistent, true, error);
        return error;
    }
    if (KeyLocate(key, store, db) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    bool belowVolatile = (options & REG_OPTION_VOLATILE) != 0;
    for (size_t end = key.find('\\'); !belowVolatile && end != std::string::npos;
         end = key.find('\\', end + 1))
    {
        Store found;
        sqlite3* foundDb = nullptr;
        belowVolatile =
            KeyLocate(key.substr(0, end), found, foundDb) == ERROR_SUCCESS && found == Store::Volatile;
    }
    const Store target = belowVolatile ? Store::Volatile : Store::Persistent;
    int32_t error = ERROR_SUCCESS;
    sqlite3* targetDb = ConnectionGet(target, true, error);
    if (targetDb == nullptr)
        return error;
    if (!Execute(targetDb, "BEGIN IMMEDIATE;") ||
        !TransactionEnd(targetDb, KeyPathRowsInsert(target, targetDb, key)))
        return ERROR_REGISTRY_IO_FAILED;
    // Not located again: a tree deletion may already have removed the key,
    // and a value write puts it back in its own transaction.
    store = target;
    db = targetDb;
    return ERROR_SUCCESS;
}

bool StringType(uint32_t type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A string stored without its terminator is handed out with one, which
// must fit in the caller's buffer as well.
bool TerminatorMissing(uint32_t type, const std::vector<uint8_t>& data)
{
    return StringType(type) && !data.empty() && data.size() % 2 == 0 &&
           (data[data.size() - 2] != 0 || data[data.size() - 1] != 0);
}

bool PrefixNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
    {
        if (tolower(static_cast<unsigned char>(text[i])) != tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool LessNoCase(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

// Inside a write transaction: removes the key and its subtree from one store.
bool TreeRowsDelete(sqlite3* db, const std::string& key)
{
    const char* where = " WHERE path = ?1 OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE;";
    for (const char* table : {"DELETE FROM registry_values", "DELETE FROM registry_keys"})
    {
        Statement remove(db, (std::string(table) + where).c_str());
        if (!remove.Ok())
            return false;
        remove.Text(1, key);
        remove.Text(2, key + "\\");
        if (remove.Step() != SQLITE_DONE)
            return false;
    }
    return true;
}
} // namespace

std::string SAUtilRegistryKeyPathNormalize(const std::string& subkey)
{
    std::string path;
    for (char c : subkey)
    {
        if (c == '\\' && (path.empty() || path.back() == '\\'))
            continue;
        path.push_back(c);
    }
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string SAUtilRegistryPathPersistentGet()
{
    std::lock_guard<std::mutex> guard(g_Lock);
    return StorePathGet(Store::Persistent);
}

std::string SAUtilRegistryPathVolatileGet()
{
    std::lock_guard<std::mutex> guard(g_Lock);
    return StorePathGet(Store::Volatile);
}

int32_t SAUtilRegistryKeyOpen(const std::string& subkey)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    Store store;
    sqlite3* db = nullptr;
    return KeyLocate(SAUtilRegistryKeyPathNormalize(subkey), store, db);
}

bool SAUtilRegistryKeyVolatile(const std::string& subkey)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    Store store = Store::Persistent;
    sqlite3* db = nullptr;
    return KeyLocate(SAUtilRegistryKeyPathNormalize(subkey), store, db) == ERROR_SUCCESS &&
           store == Store::Volatile;
}

int32_t SAUtilRegistryKeyCreate(const std::string& subkey, uint32_t options)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    Store store;
    sqlite3* db = nullptr;
    return KeyCreateLocked(SAUtilRegistryKeyPathNormalize(subkey), options, store, db);
}

int32_t SAUtilRegistryValueQuery(const std::string& subkey, const std::string& valueName, uint32_t* type,
                                 void* buffer, uint32_t* size)
{
    if (size == nullptr || (buffer == nullptr && *size != 0 && type == nullptr))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_Lock);
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    Store store;
    sqlite3* db = nullptr;
    const int32_t located = KeyLocate(key, store, db);
    if (located != ERROR_SUCCESS)
        return located;
    if (db == nullptr)
        return ERROR_FILE_NOT_FOUND;
    Statement query(db, "SELECT type, data FROM registry_values WHERE path = ?1 AND name = ?2;");
    if (!query.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    query.Text(1, key);
    query.Text(2, valueName);
    const int result = query.Step();
    if (result == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (result != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    const uint32_t storedType = static_cast<uint32_t>(query.ColumnInteger(0));
    const std::vector<uint8_t> data = query.ColumnBlob(1);
    const bool terminate = TerminatorMissing(storedType, data);
    const uint32_t needed = static_cast<uint32_t>(data.size()) + (terminate ? 2 : 0);
    if (type != nullptr)
        *type = storedType;
    if (buffer == nullptr)
    {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed)
    {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    uint8_t* out = static_cast<uint8_t*>(buffer);
    std::copy(data.begin(), data.end(), out);
    if (terminate)
    {
        out[data.size()] = 0;
        out[data.size() + 1] = 0;
    }
    *size = needed;
    return ERROR_SUCCESS;
}

int32_t SAUtilRegistryValueWrite(const std::string& subkey, const std::string& valueName, uint32_t type,
                                 const void* data, uint32_t dataSize, uint32_t options)
{
    if (data == nullptr && dataSize != 0)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_Lock);
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    Store store;
    sqlite3* db = nullptr;
    const int32_t created = KeyCreateLocked(key, options, store, db);
    if (created != ERROR_SUCCESS)
        return created;
    // One transaction per value; the key's path is put back inside it so a
    // tree deletion racing with this write cannot leave an orphaned value.
    if (!Execute(db, "BEGIN IMMEDIATE;"))
        return ERROR_REGISTRY_IO_FAILED;
    bool ok = KeyPathRowsInsert(store, db, key);
    if (ok)
    {
        Statement upsert(
            db, "INSERT INTO registry_values(path, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                " ON CONFLICT(path, name) DO UPDATE SET type = excluded.type, data = excluded.data;");
        ok = upsert.Ok();
        if (ok)
        {
            upsert.Text(1, key);
            upsert.Text(2, valueName);
            upsert.Integer(3, type);
            upsert.Blob(4, data, dataSize);
            ok = upsert.Step() == SQLITE_DONE;
        }
    }
    if (!ok)
    {
        Execute(db, "ROLLBACK;");
        return ERROR_REGISTRY_IO_FAILED;
    }
    if (!Execute(db, "COMMIT;"))
    {
        Execute(db, "ROLLBACK;");
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

int32_t SAUtilRegistryValueUpdate(const std::string& subkey, const std::string& valueName, uint32_t type,
                                  uint32_t options,
                                  const std::function<bool(std::vector<uint8_t>& data, bool exists)>& change)
{
    SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueUpdate Path: %s Value: %s\n", subkey.c_str(),
          valueName.c_str());
    std::lock_guard<std::mutex> guard(g_Lock);
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    Store store;
    sqlite3* db = nullptr;
    int32_t located = KeyLocate(key, store, db);
    if (located == ERROR_FILE_NOT_FOUND || (located == ERROR_SUCCESS && db == nullptr))
    {
        // No key yet: create it only for a change that writes.
        std::vector<uint8_t> data;
        if (!change(data, false))
            return ERROR_SUCCESS;
        located = KeyCreateLocked(key, options, store, db);
    }
    if (located != ERROR_SUCCESS)
        return located;
    // The read and the write share one write transaction, taken at once so
    // that no other writer comes between them.
    if (!Execute(db, "BEGIN IMMEDIATE;"))
        return ERROR_REGISTRY_IO_FAILED;
    bool ok = false;
    bool write = false;
    {
        Statement query(db, "SELECT type, data FROM registry_values WHERE path = ?1 AND name = ?2;");
        if (query.Ok())
        {
            query.Text(1, key);
            query.Text(2, valueName);
            const int result = query.Step();
            ok = result == SQLITE_ROW || result == SQLITE_DONE;
            if (ok)
            {
                std::vector<uint8_t> data;
                if (result == SQLITE_ROW)
                {
                    data = query.ColumnBlob(1);
                    if (TerminatorMissing(static_cast<uint32_t>(query.ColumnInteger(0)), data))
                        data.insert(data.end(), {0, 0});
                }
                write = change(data, result == SQLITE_ROW);
                if (write)
                {
                    ok = KeyPathRowsInsert(store, db, key);
                    Statement upsert(
                        db, "INSERT INTO registry_values(path, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                            " ON CONFLICT(path, name) DO UPDATE SET type = excluded.type, data = "
                            "excluded.data;");
                    ok = ok && upsert.Ok();
                    if (ok)
                    {
                        upsert.Text(1, key);
                        upsert.Text(2, valueName);
                        upsert.Integer(3, type);
                        upsert.Blob(4, data.data(), static_cast<uint32_t>(data.size()));
                        ok = upsert.Step() == SQLITE_DONE;
                    }
                }
            }
        }
    }
    if (!ok || !write)
    {
        Execute(db, "ROLLBACK;");
        return ok ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    }
    if (!Execute(db, "COMMIT;"))
    {
        Execute(db, "ROLLBACK;");
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

int32_t SAUtilRegistryValueDelete(const std::string& subkey, const std::string& valueName)
{
    std::lock_guard<std::mutex> guard(g_Lock);
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    Store store;
    sqlite3* db = nullptr;
    const int32_t located = KeyLocate(key, store, db);
    if (located != ERROR_SUCCESS)
        return located;
    if (db == nullptr)
        return ERROR_FILE_NOT_FOUND;
    Statement remove(db, "DELETE FROM registry_values WHERE path = ?1 AND name = ?2;");
    if (!remove.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    remove.Text(1, key);
    remove.Text(2, valueName);
    if (remove.Step() != SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
    return sqlite3_changes(db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

int32_t SAUtilRegistryValueEnum(const std::string& subkey, std::vector<SAUtilRegistryValue>& values)
{
    values.clear();
    std::lock_guard<std::mutex> guard(g_Lock);
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    Store store;
    sqlite3* db = nullptr;
    const int32_t located = KeyLocate(key, store, db);
    if (located != ERROR_SUCCESS || db == nullptr)
        return located;
    Statement query(db, "SELECT name, type, data FROM registry_values WHERE path = ?1 ORDER BY name;");
    if (!query.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    query.Text(1, key);
    int result;
    while ((result = query.Step()) == SQLITE_ROW)
    {
        SAUtilRegistryValue value;
        value.name = query.ColumnText(0);
        value.type = static_cast<uint32_t>(query.ColumnInteger(1));
        value.data = query.ColumnBlob(2);
        values.push_back(std::move(value));
    }
    return result == SQLITE_DONE ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

int32_t SAUtilRegistryKeyEnum(const std::string& subkey, std::vector<std::string>& subkeys)
{
    subkeys.clear();
    std::lock_guard<std::mutex> guard(g_Lock);
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    Store store;
    sqlite3* db = nullptr;
    const int32_t located = KeyLocate(key, store, db);
    if (located != ERROR_SUCCESS)
        return located;
    const std::string prefix = key.empty() ? std::string() : key + "\\";
    for (Store candidate : {Store::Persistent, Store::Volatile})
    {
        int32_t error = ERROR_SUCCESS;
        sqlite3* candidateDb = ConnectionGet(candidate, false, error);
        if (candidateDb == nullptr)
            continue;
        Statement query(candidateDb, "SELECT path FROM registry_keys;");
        if (!query.Ok())
            return ERROR_REGISTRY_IO_FAILED;
        int result;
        while ((result = query.Step()) == SQLITE_ROW)
        {
            const std::string path = query.ColumnText(0);
            if (!PrefixNoCase(path, prefix) || path.size() == prefix.size())
                continue;
            const std::string child = path.substr(prefix.size());
            if (child.find('\\') != std::string::npos)
                continue;
            const bool known = std::any_of(subkeys.begin(), subkeys.end(),
                                           [&](const std::string& name)
                                           { return strcasecmp(name.c_str(), child.c_str()) == 0; });
            if (!known)
                subkeys.push_back(child);
        }
        if (result != SQLITE_DONE)
            return ERROR_REGISTRY_IO_FAILED;
    }
    std::sort(subkeys.begin(), subkeys.end(), LessNoCase);
    return ERROR_SUCCESS;
}

int32_t SAUtilRegistryTreeDelete(const std::string& subkey)
{
    const std::string key = SAUtilRegistryKeyPathNormalize(subkey);
    if (key.empty())
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_Lock);
    Store store;
    sqlite3* db = nullptr;
    const int32_t located = KeyLocate(key, store, db);
    if (located != ERROR_SUCCESS)
        return located;
    // Parts of the tree may live in either store. Both are changed under
    // both write locks, the volatile store's taken first as writers of
    // volatile keys take it: such a writer, which puts back the key's
    // persistent parents, then comes wholly before or wholly after this.
    // The volatile part is committed first, so that a failure in between
    // leaves no volatile key without its persistent parents.
    sqlite3* dbs[2] = {};
    size_t begun = 0;
    bool ok = true;
    for (Store candidate : {Store::Volatile, Store::Persistent})
    {
        int32_t error = ERROR_SUCCESS;
        sqlite3* candidateDb = ConnectionGet(candidate, false, error);
        if (candidateDb == nullptr)
            continue;
        if (!Execute(candidateDb, "BEGIN IMMEDIATE;"))
        {
            ok = false;
            break;
        }
        dbs[begun++] = candidateDb;
        if (!TreeRowsDelete(candidateDb, key))
        {
            ok = false;
            break;
        }
    }
    for (size_t i = 0; i < begun; ++i)
        ok = TransactionEnd(dbs[i], ok);
    return ok ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

bool SAUtilRegistryValueGet(const std::string& subkey, const std::string& valueName, void* buffer,
                            uint32_t bufferSize)
{
    int32_t error = SAUtilRegistryKeyOpen(subkey);
    if (error != ERROR_SUCCESS)
    {
        SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueGet  RegOpenKeyExW failed! %s %d\n", subkey.c_str(),
              error);
        return false;
    }
    uint32_t type = REG_NONE;
    uint32_t size = bufferSize;
    error = SAUtilRegistryValueQuery(subkey, valueName, &type, buffer, &size);
    if (error != ERROR_SUCCESS)
    {
        SALog(error == ERROR_FILE_NOT_FOUND ? SA_LOG_REGISTRY : SA_LOG_FAILURE,
              "SAUtilRegistryValueGet RegQueryValueExW failed! %s %d\n", valueName.c_str(), error);
        return false;
    }
    if (type == REG_SZ)
        SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueGet  RegQueryValueExW %s %s Data: %s\n", subkey.c_str(),
              valueName.c_str(), SAUtilUtf8FromUtf16LeBytes(buffer, size).c_str());
    else
        SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueGet  RegQueryValueExW %s %s\n", subkey.c_str(),
              valueName.c_str());
    return true;
}

bool SAUtilRegistryValueSet(const std::string& subkey, const std::string& valueName, uint32_t type,
                            const void* data, uint32_t dataSize, uint32_t options)
{
    if (type == REG_SZ)
        SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueSet  Path: %s Value: %s Data: %s\n", subkey.c_str(),
              valueName.c_str(), SAUtilUtf8FromUtf16LeBytes(data, data ? dataSize : 0).c_str());
    else
        SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueSet Path: %s Value: %s\n", subkey.c_str(),
              valueName.c_str());
    int32_t error = SAUtilRegistryKeyCreate(subkey, options);
    if (error != ERROR_SUCCESS)
    {
        SALog(SA_LOG_FAILURE, "SAUtilRegistryValueSet  RegCreateKeyExW failed! %s %d\n", subkey.c_str(),
              error);
        return false;
    }
    error = SAUtilRegistryValueWrite(subkey, valueName, type, data, dataSize, options);
    if (error != ERROR_SUCCESS)
    {
        SALog(SA_LOG_REGISTRY, "SAUtilRegistryValueSet  RegSetValueExW failed! %s %d\n", valueName.c_str(),
              error);
        return false;
    }
    return true;
}
