// The registry accessor: one open key at a time below a chosen root, with the
// access mask (and so the 32-bit or 64-bit view) set explicitly by the caller.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Read-only access, in the 64-bit view when asked (0x20019 or 0x20119; a 64-bit
// build names the 32-bit view otherwise).
REGSAM RegistryReadAccess(bool view64);
// Full access, in the 64-bit view when asked (0xF003F or 0xF013F).
REGSAM RegistryFullAccess(bool view64);

// Maps a root name, short ("HKLM") or long ("HKEY_LOCAL_MACHINE"), compared
// ignoring case, to its hive. Only the four roots setups may name are known:
// classes root, current user, local machine and users. On success the long name
// goes to longName when given.
bool ParseRegistryRoot(const std::string& name, HKEY& root, std::string* longName = nullptr);

// OpenKey, the writes and the deletions leave the system's error code as the thread's last
// error when they fail.
class TRegistry {
  public:
    // Full access in the process's own view unless told otherwise; root is the
    // current user's hive.
    explicit TRegistry(REGSAM access = RegistryFullAccess(false));
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return root_; }
    // Closes the current key first.
    void SetRootKey(HKEY root);
    REGSAM Access() const { return access_; }
    // Applies to keys opened afterwards.
    void SetAccess(REGSAM access) { access_ = access; }
    HKEY CurrentKey() const { return key_; }

    // Opens key (relative to the root) with the accessor's access, creating it
    // (and its missing parents) when canCreate is set. Closes the key that was
    // open before. False when the key cannot be opened.
    bool OpenKey(const std::string& key, bool canCreate);
    // Opens key read-only, keeping the view flag of the accessor's access.
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();
    // Whether key can be opened for reading in the accessor's view. Leaves the
    // current key alone.
    bool KeyExists(const std::string& key) const;

    // The operations below work on the current key and fail when none is open.
    bool ValueExists(const std::string& name) const;
    // The value's registry type, or REG_NONE when it cannot be queried.
    DWORD ValueType(const std::string& name) const;
    // Text of a REG_SZ or REG_EXPAND_SZ value (not expanded). False for a missing
    // value or any other type.
    bool ReadString(const std::string& name, std::string& out) const;
    // A REG_DWORD value. False for a missing value or any other type.
    bool ReadInteger(const std::string& name, int32_t& out) const;
    // The raw bytes of a value of any type.
    bool ReadBinary(const std::string& name, std::string& out) const;

    bool WriteString(const std::string& name, const std::string& value);
    bool WriteExpandString(const std::string& name, const std::string& value);
    bool WriteInteger(const std::string& name, int32_t value);
    bool WriteBinary(const std::string& name, const std::string& bytes);
    bool DeleteValue(const std::string& name);

    bool GetValueNames(std::vector<std::string>& names) const;
    bool GetKeyNames(std::vector<std::string>& names) const;

    // Deletes key (relative to the root) with all its subkeys, in the accessor's
    // view. The current key stays open.
    bool DeleteKey(const std::string& key);

  private:
    bool QueryRaw(const std::string& name, DWORD& type, std::string& data) const;
    bool SetRaw(const std::string& name, DWORD type, const void* data, size_t size);

    HKEY root_ = HKEY_CURRENT_USER;
    REGSAM access_;
    HKEY key_ = nullptr;
};
