#pragma once
// The per-user registry: keys holding named values of a type and raw bytes,
// kept in SQLite so that several viewer processes (and the quillmere-reg
// tool) share it safely.
//
// Stores:
// - persistent: $XDG_CONFIG_HOME/harrowfenlab/quillmere/registry.sqlite3
//   (~/.config when XDG_CONFIG_HOME is unset or not absolute);
// - volatile: $XDG_RUNTIME_DIR/harrowfenlab/quillmere/registry-volatile.sqlite3,
//   which the system empties at logout and reboot; when XDG_RUNTIME_DIR is
//   unset the folder /tmp/quillmere-<uid> (created 0700 and refused unless it
//   is our own private directory) takes its place.
// The environment is read on every operation, so switching XDG_* switches
// stores; one connection per store path is cached, and opened again when
// the file at the path was replaced or removed.
//
// Keys: paths with backslashes, case-insensitive, relative to the user's root
// ("Software\harrowfenlab\quillmere"). A key exists as a row of its own, so a
// key with no values exists. A key created with REG_OPTION_VOLATILE lives in
// the volatile store with its values and subkeys; missing parent keys are
// always created persistent, so a volatile leaf never turns its parents
// volatile.
//
// Values: whole-value writes, one SQLite transaction each (WAL journal,
// synchronous=NORMAL, 5 s busy timeout), so a concurrent reader sees either
// the old or the new bytes, never a mixture. A write puts back the key's
// parents in its transaction, so a value written while another process
// deletes the tree above it never outlives its parents. Reads follow the
// registry's query rules: ERROR_FILE_NOT_FOUND for a missing key or value,
// ERROR_MORE_DATA (buffer untouched) when the value does not fit. A REG_SZ or
// REG_MULTI_SZ value that does not end in a null unit is handed out with one
// appended, which must fit too: a 16-character string stored without its
// terminator (32 bytes) cannot be read through a 32-byte buffer.
//
// Damage: a store file that SQLite finds damaged (garbage, a cut file,
// broken pages), on opening or by any later statement, is renamed
// "<file>.corrupt-<time>-<pid>" with its journal files (kept for a look,
// never deleted), one log line says so, and a new empty store takes its
// place: the settings start again from their defaults instead of failing
// for good; processes that have the old file open move to the new store
// at their next operation. A writer killed in the middle of a write loses
// only that write (the journal rolls it back).
//
// Threads: every function may be called from any thread; calls of one process
// are serialised by one lock. Processes: use the store from a forked child
// only after exec (SQLite's per-process file-lock state does not survive
// fork); as a last defence a child never touches an inherited connection.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;

constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr int32_t ERROR_NO_MORE_ITEMS = 259;
constexpr int32_t ERROR_REGISTRY_IO_FAILED = 1016;

constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
constexpr uint32_t REG_OPTION_VOLATILE = 1;

// The viewer's main key: every setting except AudioStreamingEnabled.
constexpr const char* SA_REGISTRY_KEY_MAIN = "Software\\harrowfenlab\\quillmere";
// Volatile subkey holding only AudioStreamingEnabled.
constexpr const char* SA_REGISTRY_KEY_AUDIO = "Software\\harrowfenlab\\quillmere\\Audio";
// The application framework's profile key (sections below it). It sits next
// to, not under, the main key, so clearing the settings keeps the window
// placement.
constexpr const char* SA_REGISTRY_KEY_PROFILE = "Software\\Local AppWizard-Generated Applications\\quillmere";
// Window placement: section "MainFrame", REG_BINARY value "WP".
constexpr const char* SA_REGISTRY_KEY_PROFILE_MAINFRAME =
    "Software\\Local AppWizard-Generated Applications\\quillmere\\MainFrame";
constexpr const char* SA_REGISTRY_VALUE_WINDOW_PLACEMENT = "WP";

// Reads a value's raw bytes into `buffer` (capacity `bufferSize` bytes). The
// stored type is not checked and the number of bytes read is not returned:
// callers pre-set the buffer so that an absent or unreadable value leaves
// their default. Logs every failure (ERROR_FILE_NOT_FOUND at 0x80, others at 1).
bool SAUtilRegistryValueGet(const std::string& subkey, const std::string& valueName, void* buffer,
                            uint32_t bufferSize);
// Creates the key when missing (with `options`) and writes the whole value.
bool SAUtilRegistryValueSet(const std::string& subkey, const std::string& valueName, uint32_t type,
                            const void* data, uint32_t dataSize, uint32_t options);

// Lower-level operations; each returns an ERROR_* code.

// ERROR_SUCCESS when the key exists.
int32_t SAUtilRegistryKeyOpen(const std::string& subkey);
// Creates the key (and missing parents, persistent) unless it exists.
int32_t SAUtilRegistryKeyCreate(const std::string& subkey, uint32_t options);
// Registry query: with `buffer` null only `type` and the needed `*size` are
// returned; otherwise `*size` is the capacity on entry and the bytes written
// (or needed, with ERROR_MORE_DATA) on return. `type` may be null.
int32_t SAUtilRegistryValueQuery(const std::string& subkey, const std::string& valueName, uint32_t* type,
                                 void* buffer, uint32_t* size);
// Writes a value; the key must exist or is created with `options`.
int32_t SAUtilRegistryValueWrite(const std::string& subkey, const std::string& valueName, uint32_t type,
                                 const void* data, uint32_t dataSize, uint32_t options);
int32_t SAUtilRegistryValueDelete(const std::string& subkey, const std::string& valueName);
// Reads a value, lets `change` edit its bytes and writes them back as
// `type`, all in one transaction of the store: a change another process
// makes to the same value at the same moment comes before or after this
// one, and neither is lost. `change` gets the bytes as SAUtilRegistryValueQuery
// hands them out (a string with the terminator it may get appended) and
// whether the value exists; it returns false to leave the value as it is
// (nothing is created then). It may run twice, so it must depend on its
// arguments only, and it must not call into the registry.
// ERROR_SUCCESS also when `change` declined.
int32_t SAUtilRegistryValueUpdate(const std::string& subkey, const std::string& valueName, uint32_t type,
                                  uint32_t options,
                                  const std::function<bool(std::vector<uint8_t>& data, bool exists)>& change);

struct SAUtilRegistryValue
{
    std::string name;
    uint32_t type = REG_NONE;
    std::vector<uint8_t> data; // as stored, without an appended terminator
};
// Every value of the key, in name order.
int32_t SAUtilRegistryValueEnum(const std::string& subkey, std::vector<SAUtilRegistryValue>& values);
// Names of the key's direct subkeys (last path component), in name order;
// an empty `subkey` lists the top-level keys.
int32_t SAUtilRegistryKeyEnum(const std::string& subkey, std::vector<std::string>& subkeys);
// Deletes the key, all its subkeys and values. ERROR_FILE_NOT_FOUND when the
// key does not exist.
int32_t SAUtilRegistryTreeDelete(const std::string& subkey);
// True when the key exists and lives in the volatile store.
bool SAUtilRegistryKeyVolatile(const std::string& subkey);

// The store files the current environment selects (empty when no usable
// location exists, e.g. the /tmp fallback folder is not ours).
std::string SAUtilRegistryPathPersistentGet();
std::string SAUtilRegistryPathVolatileGet();

// Key path in canonical form: no leading, trailing or repeated backslashes.
std::string SAUtilRegistryKeyPathNormalize(const std::string& subkey);
