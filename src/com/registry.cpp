#include "com/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace {

// Larger files are not registrations; they are reported and left out.
constexpr std::uintmax_t kMaxFileBytes = 16 * 1024 * 1024;

// Rights that would change a key.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                                0x00010000 /* DELETE */ | 0x00040000 /* WRITE_DAC */ |
                                0x00080000 /* WRITE_OWNER */ | 0x10000000 /* GENERIC_ALL */ |
                                0x40000000 /* GENERIC_WRITE */;

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Node {
    std::string name;
    std::map<std::string, std::unique_ptr<Node>> keys;  // by folded name
    std::map<std::string, Value> values;                // by folded name

    const Node* Find(std::string_view part) const {
        const auto it = keys.find(Fold(part));
        return it == keys.end() ? nullptr : it->second.get();
    }
    Node* Find(std::string_view part) {
        const auto it = keys.find(Fold(part));
        return it == keys.end() ? nullptr : it->second.get();
    }
    Node& Child(std::string_view part) {
        std::unique_ptr<Node>& slot = keys[Fold(part)];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->name = std::string(part);
        }
        return *slot;
    }
};

const Node* FindPath(const Node* node, const std::vector<std::string>& parts) {
    for (const std::string& part : parts) {
        if (node == nullptr) {
            return nullptr;
        }
        node = node->Find(part);
    }
    return node;
}

Node& MakePath(Node& node, const std::vector<std::string>& parts) {
    Node* at = &node;
    for (const std::string& part : parts) {
        at = &at->Child(part);
    }
    return *at;
}

// Removes the key at parts below node; an empty path clears node itself.
bool ErasePath(Node& node, const std::vector<std::string>& parts) {
    if (parts.empty()) {
        const bool had = !node.keys.empty() || !node.values.empty();
        node.keys.clear();
        node.values.clear();
        return had;
    }
    Node* parent = &node;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->Find(parts[i]);
        if (parent == nullptr) {
            return false;
        }
    }
    return parent->keys.erase(Fold(parts.back())) > 0;
}

const std::vector<std::string> kClassesPath{"SOFTWARE", "Classes"};

struct Hives {
    Node machine;
    Node user;

    // Where a root's keys live: HKEY_CLASSES_ROOT writes into the machine's classes.
    Node& Base(RegRoot root) {
        switch (root) {
            case RegRoot::CurrentUser:
                return user;
            case RegRoot::LocalMachine:
                return machine;
            case RegRoot::ClassesRoot:
                break;
        }
        return MakePath(machine, kClassesPath);
    }
};

// Text from a file or another node may lack its terminator; callers copy it into C buffers.
void TerminateText(DWORD type, std::vector<BYTE>& data) {
    if (IsTextType(type) && (data.empty() || data.back() != 0)) {
        data.push_back(0);
    }
}

void ApplyKey(Hives& hives, const RegFileKey& key) {
    const std::optional<std::vector<std::string>> parts = SplitRegPath(key.subKey);
    if (!parts) {
        return;
    }
    Node& base = hives.Base(key.root);
    if (key.remove) {
        ErasePath(base, *parts);
        return;
    }
    Node& node = MakePath(base, *parts);
    for (const RegFileValue& value : key.values) {
        if (value.remove) {
            node.values.erase(Fold(value.name));
        } else {
            Value& stored = node.values[Fold(value.name)];
            stored = Value{value.name, value.type, value.data};
            TerminateText(stored.type, stored.data);
        }
    }
}

struct FileStamp {
    std::string path;
    std::int64_t mtimeSec = 0;
    std::int64_t mtimeNsec = 0;
    std::int64_t ctimeSec = 0;
    std::int64_t ctimeNsec = 0;
    std::uintmax_t size = 0;
    std::uintmax_t inode = 0;
    std::uintmax_t device = 0;

    bool operator==(const FileStamp&) const = default;
};

struct Fingerprint {
    std::vector<std::string> directories;
    std::vector<FileStamp> files;  // in reading order

    bool operator==(const Fingerprint&) const = default;
};

std::optional<FileStamp> Stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.path = path;
    stamp.mtimeSec = st.st_mtim.tv_sec;
    stamp.mtimeNsec = st.st_mtim.tv_nsec;
    stamp.ctimeSec = st.st_ctim.tv_sec;
    stamp.ctimeNsec = st.st_ctim.tv_nsec;
    stamp.size = static_cast<std::uintmax_t>(st.st_size);
    stamp.inode = st.st_ino;
    stamp.device = st.st_dev;
    return stamp;
}

bool HasRegExtension(const std::filesystem::path& path) {
    return Fold(path.extension().string()) == ".reg";
}

Fingerprint TakeFingerprint() {
    Fingerprint print;
    for (const std::filesystem::path& dir : RegistryDirectories()) {
        print.directories.push_back(dir.string());
        std::error_code ec;
        std::vector<std::filesystem::path> names;
        for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (HasRegExtension(it->path())) {
                names.push_back(it->path());
            }
        }
        std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
            return a.filename().string() < b.filename().string();
        });
        for (const std::filesystem::path& name : names) {
            if (std::optional<FileStamp> stamp = Stamp(name.string())) {
                print.files.push_back(std::move(*stamp));
            }
        }
    }
    return print;
}

void Trace(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

LSTATUS StatusFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOENT:
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case ENOMEM:
            return ERROR_OUTOFMEMORY;
        default:
            return ERROR_WRITE_FAULT;
    }
}

std::string JoinPath(const std::string& base, const std::vector<std::string>& parts) {
    std::string out = base;
    for (const std::string& part : parts) {
        if (!out.empty()) {
            out += '\\';
        }
        out += part;
    }
    return out;
}

std::optional<RegRoot> PredefinedRoot(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) {
        return RegRoot::ClassesRoot;
    }
    if (key == HKEY_CURRENT_USER) {
        return RegRoot::CurrentUser;
    }
    if (key == HKEY_LOCAL_MACHINE) {
        return RegRoot::LocalMachine;
    }
    return std::nullopt;
}

// What a handle stands for.
struct KeyRef {
    RegRoot root = RegRoot::LocalMachine;
    std::vector<std::string> path;
    std::shared_ptr<IRemoteRegistryHive> remote;  // set for a key of another node
    std::string remotePath;
    bool predefined = false;
};

struct OpenKey {
    KeyRef ref;
    // Sub-key names of the last enumeration, valid while the registry's generation holds.
    std::uint64_t enumGeneration = 0;
    std::vector<std::string> enumNames;
};

class Registry {
  public:
    LSTATUS Open(HKEY hKey, LPCSTR subKey, REGSAM sam, PHKEY result) {
        if (result == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        *result = nullptr;
        if ((sam & kWriteRights) != 0) {
            return ERROR_ACCESS_DENIED;
        }
        const std::optional<std::vector<std::string>> parts =
            SplitRegPath(subKey == nullptr ? "" : subKey);
        std::optional<Fingerprint> print = FingerprintFor(hKey);
        std::unique_lock lock(mutex_);
        std::optional<KeyRef> ref = Resolve(hKey);
        if (!ref) {
            return ERROR_INVALID_HANDLE;
        }
        if (!parts) {
            return ERROR_BAD_PATHNAME;
        }
        if (ref->remote) {
            ref->remotePath = JoinPath(ref->remotePath, *parts);
            lock.unlock();
            if (const LSTATUS status = ref->remote->OpenKey(ref->remotePath);
                status != ERROR_SUCCESS) {
                return status;
            }
            lock.lock();
        } else {
            if (print) {
                RefreshLocked(std::move(*print));
            }
            ref->path.insert(ref->path.end(), parts->begin(), parts->end());
            if (Layers(ref->root, ref->path).empty()) {
                return ERROR_FILE_NOT_FOUND;
            }
        }
        ref->predefined = false;
        *result = Allocate(std::move(*ref));
        return ERROR_SUCCESS;
    }

    LSTATUS Query(HKEY hKey, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                  DWORD* cbData) {
        if (reserved != nullptr || (data != nullptr && cbData == nullptr)) {
            return ERROR_INVALID_PARAMETER;
        }
        const std::string name = valueName == nullptr ? "" : valueName;
        DWORD foundType = REG_NONE;
        std::vector<BYTE> found;
        std::optional<Fingerprint> print = FingerprintFor(hKey);
        std::unique_lock lock(mutex_);
        std::optional<KeyRef> ref = Resolve(hKey);
        if (!ref) {
            return ERROR_INVALID_HANDLE;
        }
        if (ref->remote) {
            lock.unlock();
            const LSTATUS status = ref->remote->QueryValue(ref->remotePath, name, foundType, found);
            if (status != ERROR_SUCCESS) {
                return status;
            }
            TerminateText(foundType, found);
        } else {
            if (print) {
                RefreshLocked(std::move(*print));
            }
            const std::vector<const Node*> layers = Layers(ref->root, ref->path);
            if (layers.empty()) {
                return ref->predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
            }
            const Value* value = nullptr;
            for (const Node* layer : layers) {
                const auto it = layer->values.find(Fold(name));
                if (it != layer->values.end()) {
                    value = &it->second;
                    break;
                }
            }
            if (value == nullptr) {
                return ERROR_FILE_NOT_FOUND;
            }
            foundType = value->type;
            found = value->data;
            lock.unlock();
        }

        if (type != nullptr) {
            *type = foundType;
        }
        if (cbData == nullptr) {
            return ERROR_SUCCESS;
        }
        const auto size = static_cast<DWORD>(found.size());
        if (data != nullptr && *cbData < size) {
            *cbData = size;
            return ERROR_MORE_DATA;
        }
        if (data != nullptr && size > 0) {
            std::memcpy(data, found.data(), size);
        }
        *cbData = size;
        return ERROR_SUCCESS;
    }

    LSTATUS Enum(HKEY hKey, DWORD index, LPSTR name, DWORD* cchName, DWORD* reserved,
                 LPSTR className, DWORD* cchClass, FILETIME* lastWrite) {
        if (name == nullptr || cchName == nullptr || reserved != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        std::string found;
        std::optional<Fingerprint> print = FingerprintFor(hKey);
        std::unique_lock lock(mutex_);
        std::optional<KeyRef> ref = Resolve(hKey);
        if (!ref) {
            return ERROR_INVALID_HANDLE;
        }
        if (ref->remote) {
            lock.unlock();
            if (const LSTATUS status = ref->remote->EnumKey(ref->remotePath, index, found);
                status != ERROR_SUCCESS) {
                return status;
            }
        } else {
            if (print) {
                RefreshLocked(std::move(*print));
            }
            const std::vector<std::string>* names = nullptr;
            std::vector<std::string> fresh;
            if (ref->predefined) {
                fresh = SubKeyNames(ref->root, ref->path);
                names = &fresh;
            } else {
                OpenKey& open = handles_.at(reinterpret_cast<std::uintptr_t>(hKey));
                if (open.enumGeneration != generation_) {
                    if (Layers(ref->root, ref->path).empty()) {
                        return ERROR_KEY_DELETED;
                    }
                    open.enumNames = SubKeyNames(ref->root, ref->path);
                    open.enumGeneration = generation_;
                }
                names = &open.enumNames;
            }
            if (index >= names->size()) {
                return ERROR_NO_MORE_ITEMS;
            }
            found = (*names)[index];
            lock.unlock();
        }

        if (found.size() + 1 > *cchName) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(name, found.c_str(), found.size() + 1);
        *cchName = static_cast<DWORD>(found.size());
        if (cchClass != nullptr) {
            if (className != nullptr && *cchClass > 0) {
                className[0] = '\0';
            }
            *cchClass = 0;
        }
        if (lastWrite != nullptr) {
            *lastWrite = FILETIME{};
        }
        return ERROR_SUCCESS;
    }

    LSTATUS Close(HKEY hKey) {
        if (PredefinedRoot(hKey)) {
            return ERROR_SUCCESS;
        }
        std::optional<OpenKey> closing;
        {
            const std::lock_guard lock(mutex_);
            const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(hKey));
            if (it == handles_.end()) {
                return ERROR_INVALID_HANDLE;
            }
            closing = std::move(it->second);
            handles_.erase(it);
        }
        // A remote hive whose last key closes may take a network round trip to go away; that
        // happens here, outside the lock.
        closing.reset();
        return ERROR_SUCCESS;
    }

    LSTATUS Connect(LPCSTR machine, HKEY hKey, PHKEY result) {
        if (result == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        *result = nullptr;
        const std::optional<RegRoot> root = PredefinedRoot(hKey);
        if (!root) {
            return ERROR_INVALID_HANDLE;
        }
        std::string node = machine == nullptr ? "" : machine;
        if (node.empty()) {
            Fingerprint print = TakeFingerprint();
            const std::lock_guard lock(mutex_);
            RefreshLocked(std::move(print));
            *result = Allocate(KeyRef{*root, {}, nullptr, {}, false});
            return ERROR_SUCCESS;
        }
        if (node.size() > 2 && node.compare(0, 2, "\\\\") == 0) {
            node.erase(0, 2);
        }
        if (*root != RegRoot::LocalMachine) {
            return ERROR_INVALID_HANDLE;
        }
        std::shared_ptr<IRemoteRegistryProvider> provider;
        {
            const std::lock_guard lock(mutex_);
            provider = remoteProvider_;
        }
        if (!provider) {
            return ERROR_BAD_NETPATH;
        }
        std::shared_ptr<IRemoteRegistryHive> hive;
        const LSTATUS status = provider->Connect(node, hive);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (!hive) {
            return ERROR_BAD_NETPATH;
        }
        const std::lock_guard lock(mutex_);
        *result = Allocate(KeyRef{RegRoot::LocalMachine, {}, std::move(hive), {}, false});
        return ERROR_SUCCESS;
    }

    std::shared_ptr<IRemoteRegistryProvider> SetRemoteProvider(
        std::shared_ptr<IRemoteRegistryProvider> provider) {
        const std::lock_guard lock(mutex_);
        std::swap(provider, remoteProvider_);
        return provider;
    }

    LSTATUS SetInMemory(HKEY root, LPCSTR subKey, const std::string* valueName, DWORD type,
                        std::vector<BYTE> data) {
        const std::optional<RegRoot> r = PredefinedRoot(root);
        if (!r) {
            return ERROR_INVALID_HANDLE;
        }
        const std::optional<std::vector<std::string>> parts =
            SplitRegPath(subKey == nullptr ? "" : subKey);
        if (!parts) {
            return ERROR_BAD_PATHNAME;
        }
        TerminateText(type, data);
        const std::lock_guard lock(mutex_);
        Node& node = MakePath(overlay_.Base(*r), *parts);
        if (valueName != nullptr) {
            node.values[Fold(*valueName)] = Value{*valueName, type, std::move(data)};
        }
        ++generation_;
        return ERROR_SUCCESS;
    }

    LSTATUS DeleteInMemory(HKEY root, LPCSTR subKey) {
        const std::optional<RegRoot> r = PredefinedRoot(root);
        if (!r) {
            return ERROR_INVALID_HANDLE;
        }
        const std::optional<std::vector<std::string>> parts =
            SplitRegPath(subKey == nullptr ? "" : subKey);
        if (!parts) {
            return ERROR_BAD_PATHNAME;
        }
        const std::lock_guard lock(mutex_);
        if (!ErasePath(overlay_.Base(*r), *parts)) {
            return ERROR_FILE_NOT_FOUND;
        }
        ++generation_;
        return ERROR_SUCCESS;
    }

    // The files changed behind the fingerprint's back (a write in the same clock tick): read
    // them again at the next look-up.
    void Invalidate() {
        const std::lock_guard lock(mutex_);
        loaded_ = false;
    }

  private:
    std::optional<KeyRef> Resolve(HKEY hKey) const {
        if (const std::optional<RegRoot> root = PredefinedRoot(hKey)) {
            return KeyRef{*root, {}, nullptr, {}, true};
        }
        const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(hKey));
        if (it == handles_.end()) {
            return std::nullopt;
        }
        return it->second.ref;
    }

    HKEY Allocate(KeyRef ref) {
        std::uintptr_t value = nextHandle_++;
        while (value == 0 || PredefinedRoot(reinterpret_cast<HKEY>(value)) ||
               handles_.contains(value)) {
            value = nextHandle_++;
        }
        handles_[value] = OpenKey{std::move(ref), 0, {}};
        return reinterpret_cast<HKEY>(value);
    }

    // The nodes that make up a key, most significant first: in-memory keys over files, and
    // for HKEY_CLASSES_ROOT the user's classes over the machine's.
    std::vector<const Node*> Layers(RegRoot root, const std::vector<std::string>& path) const {
        std::vector<const Node*> layers;
        const auto add = [&](const Node& hive, const std::vector<std::string>* prefix) {
            const Node* node = prefix == nullptr ? &hive : FindPath(&hive, *prefix);
            node = FindPath(node, path);
            if (node != nullptr) {
                layers.push_back(node);
            }
        };
        switch (root) {
            case RegRoot::LocalMachine:
                add(overlay_.machine, nullptr);
                add(files_->machine, nullptr);
                break;
            case RegRoot::CurrentUser:
                add(overlay_.user, nullptr);
                add(files_->user, nullptr);
                break;
            case RegRoot::ClassesRoot:
                add(overlay_.user, &kClassesPath);
                add(files_->user, &kClassesPath);
                add(overlay_.machine, &kClassesPath);
                add(files_->machine, &kClassesPath);
                break;
        }
        return layers;
    }

    std::vector<std::string> SubKeyNames(RegRoot root, const std::vector<std::string>& path) const {
        std::map<std::string, std::string> merged;
        for (const Node* layer : Layers(root, path)) {
            for (const auto& [folded, child] : layer->keys) {
                merged.emplace(folded, child->name);
            }
        }
        std::vector<std::string> names;
        names.reserve(merged.size());
        for (auto& entry : merged) {
            names.push_back(std::move(entry.second));
        }
        return names;
    }

    // Looking at the files needs no lock; only a key opened from a root looks.
    static std::optional<Fingerprint> FingerprintFor(HKEY hKey) {
        if (!PredefinedRoot(hKey)) {
            return std::nullopt;
        }
        return TakeFingerprint();
    }

    void RefreshLocked(Fingerprint print) {
        if (loaded_ && print == fingerprint_) {
            return;
        }
        // The files changed since print was taken outside the lock, perhaps more than once and
        // in a race with another reader: look again, now that no one else can reload.
        print = TakeFingerprint();
        if (loaded_ && print == fingerprint_) {
            return;
        }
        auto hives = std::make_shared<Hives>();
        for (const FileStamp& file : print.files) {
            Load(file, *hives);
        }
        files_ = std::move(hives);
        fingerprint_ = std::move(print);
        loaded_ = true;
        ++generation_;
    }

    void Load(const FileStamp& file, Hives& hives) {
        std::string error;
        int line = 0;
        std::vector<RegFileKey> keys;
        std::ifstream in(file.path, std::ios::binary);
        if (!in.is_open() && !std::filesystem::exists(file.path)) {
            return;  // gone since the directory was listed
        }
        std::string bytes;
        char chunk[16384];
        while (in && bytes.size() <= kMaxFileBytes) {
            in.read(chunk, sizeof chunk);
            bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        }
        if (bytes.size() > kMaxFileBytes) {
            error = "larger than a registration file can be";
        } else if (in.bad() || !in.is_open()) {
            error = "cannot be read";
        } else {
            RegFileParseResult parsed = ParseRegFile(bytes);
            line = parsed.errorLine;
            error = std::move(parsed.error);
            keys = std::move(parsed.keys);
        }
        if (error.empty()) {
            reported_.erase(file.path);
            for (const RegFileKey& key : keys) {
                ApplyKey(hives, key);
            }
            return;
        }
        const auto it = reported_.find(file.path);
        if (it != reported_.end() && it->second == file) {
            return;
        }
        reported_[file.path] = file;
        std::string text = "Registry file " + file.path;
        if (line > 0) {
            text += " line " + std::to_string(line);
        }
        Trace(text + ": " + error + "; the file is left out");
    }

    mutable std::mutex mutex_;
    std::shared_ptr<const Hives> files_ = std::make_shared<Hives>();
    Hives overlay_;
    Fingerprint fingerprint_;
    bool loaded_ = false;
    std::map<std::string, FileStamp> reported_;  // malformed files already named, as they were
    std::uint64_t generation_ = 1;               // changes whenever any key may have changed
    std::unordered_map<std::uintptr_t, OpenKey> handles_;
    std::uintptr_t nextHandle_ = 0x1000;
    std::shared_ptr<IRemoteRegistryProvider> remoteProvider_;
};

// The registry lives until the process ends, so that code running at exit can still use it.
Registry& TheRegistry() {
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* const registry = ::new (static_cast<void*>(storage)) Registry();
    return *registry;
}

std::string TempName(const std::filesystem::path& file) {
    static std::atomic<unsigned> counter{0};
    return file.string() + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

LSTATUS WriteWhole(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return StatusFromErrno(errno);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            return StatusFromErrno(error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        return StatusFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                      PHKEY phkResult) {
    return TheRegistry().Open(hKey, lpSubKey, samDesired, phkResult);
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                         BYTE* lpData, DWORD* lpcbData) {
    return TheRegistry().Query(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                      LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
    return TheRegistry().Enum(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                              lpftLastWriteTime);
}

LSTATUS RegCloseKey(HKEY hKey) {
    return TheRegistry().Close(hKey);
}

LSTATUS RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    return TheRegistry().Connect(lpMachineName, hKey, phkResult);
}

std::optional<std::string> RegReadString(HKEY hKey, std::string_view subKey,
                                         std::string_view valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(hKey, std::string(subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::string name(valueName);
    std::optional<std::string> text;
    DWORD type = REG_NONE;
    DWORD size = 0;
    // The value may change between the two calls; try again when it grew.
    for (int attempt = 0; attempt < 4 && !text; ++attempt) {
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            !IsTextType(type)) {
            break;
        }
        std::string buffer(size, '\0');
        const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                                reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_SUCCESS && IsTextType(type)) {
            buffer.resize(std::min<std::size_t>(size, buffer.size()));
            buffer.resize(buffer.find('\0') == std::string::npos ? buffer.size()
                                                                 : buffer.find('\0'));
            text = std::move(buffer);
        } else if (status != ERROR_MORE_DATA) {
            break;
        }
    }
    RegCloseKey(key);
    return text;
}

std::shared_ptr<IRemoteRegistryProvider> SetRemoteRegistryProvider(
    std::shared_ptr<IRemoteRegistryProvider> provider) {
    return TheRegistry().SetRemoteProvider(std::move(provider));
}

LSTATUS RegSetKeyValueInMemory(HKEY hRoot, LPCSTR lpSubKey, LPCSTR lpValueName, DWORD dwType,
                               const void* lpData, DWORD cbData) {
    if (lpData == nullptr && cbData != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto* bytes = static_cast<const BYTE*>(lpData);
    const std::string name = lpValueName == nullptr ? "" : lpValueName;
    return TheRegistry().SetInMemory(hRoot, lpSubKey, &name, dwType,
                                     std::vector<BYTE>(bytes, bytes + cbData));
}

LSTATUS RegSetStringInMemory(HKEY hRoot, std::string_view subKey, std::string_view valueName,
                             std::string_view text) {
    const std::string key(subKey);
    const std::string name(valueName);
    return TheRegistry().SetInMemory(hRoot, key.c_str(), &name, REG_SZ,
                                     std::vector<BYTE>(text.begin(), text.end()));
}

LSTATUS RegCreateKeyInMemory(HKEY hRoot, LPCSTR lpSubKey) {
    return TheRegistry().SetInMemory(hRoot, lpSubKey, nullptr, REG_NONE, {});
}

LSTATUS RegDeleteTreeInMemory(HKEY hRoot, LPCSTR lpSubKey) {
    return TheRegistry().DeleteInMemory(hRoot, lpSubKey);
}

std::vector<std::filesystem::path> RegistryDirectories() {
    std::vector<std::filesystem::path> dirs;
    if (const char* list = std::getenv("TAGVISTA_REGISTRY")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            if (const std::string_view dir = rest.substr(0, colon); !dir.empty()) {
                dirs.emplace_back(dir);
            }
            if (colon == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(colon + 1);
        }
        return dirs;
    }
    dirs.emplace_back("/etc/tagvista/registry");
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        dirs.push_back(std::filesystem::path(data) / "tagvista" / "registry");
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        dirs.push_back(std::filesystem::path(home) / ".local" / "share" / "tagvista" / "registry");
    }
    return dirs;
}

std::filesystem::path RegistryUserDirectory() {
    std::vector<std::filesystem::path> dirs = RegistryDirectories();
    return dirs.empty() ? std::filesystem::path() : std::move(dirs.back());
}

LSTATUS RegistryWriteFile(const std::filesystem::path& file, const std::vector<RegFileKey>& keys) {
    const std::optional<std::string> text = FormatRegFile(keys);
    if (!text || file.empty() || !file.has_filename()) {
        return ERROR_INVALID_PARAMETER;
    }
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) {
            return StatusFromErrno(ec.value());
        }
    }
    const std::string temp = TempName(file);
    if (const LSTATUS status = WriteWhole(temp, *text); status != ERROR_SUCCESS) {
        std::filesystem::remove(temp, ec);
        return status;
    }
    std::filesystem::rename(temp, file, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return StatusFromErrno(ec.value());
    }
    TheRegistry().Invalidate();
    return ERROR_SUCCESS;
}

LSTATUS RegistryRemoveFile(const std::filesystem::path& file) {
    std::error_code ec;
    const bool removed = std::filesystem::remove(file, ec);
    if (ec) {
        return StatusFromErrno(ec.value());
    }
    TheRegistry().Invalidate();
    return removed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}
