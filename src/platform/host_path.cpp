// Device paths to host paths, with the handset's case-insensitive names.
#include "platform/host_path.h"
#include "platform/sys_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "msgstore/platform.h"
#include "platform/handles.h"

namespace msgstore {
namespace platform {

namespace {

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Looks in directory for the entry that equals name ignoring ASCII case:
// name itself when it is there, else the smallest such name; empty when there
// is none. False when the directory cannot be read.
bool LookIgnoringCase(const std::string& directory, const std::string& name, std::string* found) {
  found->clear();
  UniqueFd dir(Sys().open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!dir.valid()) return false;
  return ForEachEntry(dir.get(), [&](const char* entry) {
    const std::string_view candidate(entry);
    if (candidate.size() != name.size()) return true;
    if (candidate == name) {
      found->assign(candidate);
      return false;
    }
    if (AsciiIEquals(candidate, name) && (found->empty() || candidate < *found))
      found->assign(candidate);
    return true;
  });
}

std::string FindEntryIgnoringCase(const std::string& directory, const std::string& name) {
  std::string found;
  LookIgnoringCase(directory, name, &found);
  return found;
}

// Folders whose path exists under another spelling than the one asked for
// (the e-mail tree is made as "Email" and named "EMAIL"), as found before.
// An entry is used only after a look shows the folder still there.
std::mutex g_folderMutex;
std::map<std::string, std::string, std::less<>>& Folders() {
  static std::map<std::string, std::string, std::less<>> folders;
  return folders;
}
// Whether Folders() holds anything: most devices need none of it.
std::atomic<bool> g_anyFolder{false};
// Changes whenever Folders() does.
std::atomic<unsigned> g_foldersVersion{0};

std::string KnownFolder(std::string_view asked) {
  if (!g_anyFolder.load(std::memory_order_acquire)) return std::string();
  std::lock_guard<std::mutex> lock(g_folderMutex);
  auto it = Folders().find(asked);
  return it == Folders().end() ? std::string() : it->second;
}

void RememberFolder(const std::string& asked, const std::string& found) {
  if (asked == found) return;
  std::lock_guard<std::mutex> lock(g_folderMutex);
  if (Folders().size() > 1024) Folders().clear();
  Folders()[asked] = found;
  g_anyFolder.store(true, std::memory_order_release);
  g_foldersVersion.fetch_add(1, std::memory_order_release);
}

// Host paths that an operation found under their own spelling lately, by
// the hash of the path, one slot a hash: a name made or replaced again needs
// no look while it is known.
constexpr size_t kSeenSlots = 512;
std::atomic<size_t> g_seen[kSeenSlots];

size_t SeenHash(const std::string& host) {
  const size_t hash = std::hash<std::string>()(host);
  return hash == 0 ? 1 : hash;  // 0 marks an empty slot
}

bool WasSeen(const std::string& host) {
  const size_t hash = SeenHash(host);
  return g_seen[hash % kSeenSlots].load(std::memory_order_relaxed) == hash;
}

// The names of the folders looked at while this thread keeps them
// (KeptFolderNames): by host folder, its names by their ASCII lower case,
// each with its spellings.
using Spellings = std::map<std::string, std::set<std::string>>;
struct KeptNames {
  int depth = 0;
  std::map<std::string, Spellings> folders;
};
thread_local KeptNames t_kept;

// The kept names of folder, read at the first need; null when this thread
// keeps none or the folder cannot be read.
Spellings* KeptFolder(const std::string& folder) {
  if (t_kept.depth == 0) return nullptr;
  auto kept = t_kept.folders.find(folder);
  if (kept != t_kept.folders.end()) return &kept->second;
  UniqueFd dir(Sys().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!dir.valid()) return nullptr;
  Spellings names;
  if (!ForEachEntry(dir.get(), [&](const char* entry) {
        names[AsciiLower(entry)].insert(entry);
        return true;
      }))
    return nullptr;
  return &t_kept.folders.emplace(folder, std::move(names)).first->second;
}

// Tells the kept names of host's folder, if kept, that host is there or gone.
void NoteKept(const std::string& host, bool there) {
  if (t_kept.depth == 0) return;
  const size_t slash = host.find_last_of('/');
  if (slash == std::string::npos) return;
  auto kept = t_kept.folders.find(host.substr(0, slash));
  if (kept == t_kept.folders.end()) return;
  const std::string name = host.substr(slash + 1);
  std::set<std::string>& spellings = kept->second[AsciiLower(name)];
  if (there)
    spellings.insert(name);
  else
    spellings.erase(name);
}

// The entry name in folder, which exists: its own spelling when a file of
// that spelling exists or none of another does; a temporary name is always
// made under its own spelling.
std::string SettleIn(const std::string& folder, const std::string& name) {
  if (IsTempFileName(ToUtf16(name), nullptr)) return folder + "/" + name;
  if (const Spellings* kept = KeptFolder(folder)) {
    const auto found = kept->find(AsciiLower(name));
    if (found == kept->end() || found->second.empty() || found->second.count(name) != 0)
      return folder + "/" + name;
    return folder + "/" + *found->second.begin();
  }
  const std::string match = FindEntryIgnoringCase(folder, name);
  return folder + "/" + (match.empty() ? name : match);
}

}  // namespace

bool ForEachEntry(int fd, const std::function<bool(const char* name)>& visit) {
  // Only what getdents fills is read: the buffer needs no zeroing.
  constexpr size_t kBufferSize = 32768;
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    const ssize_t n = Sys().getdents(fd, buffer.get(), kBufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.get() + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (!visit(name)) return true;
    }
  }
}

namespace {

// Writes text, UTF-16, as UTF-8 at out, which has room for 3 bytes a code
// unit, and returns the end; an unpaired surrogate becomes U+FFFD.
char* PutAsUtf8(char* out, std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code < 0x80) {
      *out++ = static_cast<char>(code);
      continue;
    }
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);  // 4 bytes for 2 units
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    std::string bytes;
    AppendUtf8(bytes, code);
    out = std::copy(bytes.begin(), bytes.end(), out);
  }
  return out;
}

// Appends text, UTF-16, as UTF-8.
void AppendAsUtf8(std::string& out, std::u16string_view text) {
  const size_t had = out.size();
  out.resize(had + 3 * text.size());
  out.resize(static_cast<size_t>(PutAsUtf8(&out[had], text) - out.data()));
}

}  // namespace

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  AppendAsUtf8(out, text);
  return out;
}

std::u16string ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80           ? 0
                : (lead >> 5) == 0x6  ? 1
                : (lead >> 4) == 0xE  ? 2
                : (lead >> 3) == 0x1E ? 3
                                      : -1;
    uint32_t code = extra == 0   ? lead
                    : extra == 1 ? (lead & 0x1F)
                    : extra == 2 ? (lead & 0x0F)
                                 : (lead & 0x07);
    bool ok = extra >= 0 && i + extra < text.size();
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) ok = false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
      ok = false;
    if (!ok) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::u16string FromWide(const WCHAR* text) { return text == nullptr ? u"" : std::u16string(text); }

std::u16string_view WideView(const WCHAR* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool AsciiIEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::vector<std::string> SplitDevicePath(std::u16string_view devicePath) {
  const std::u16string_view path = devicePath.substr(0, devicePath.find(u'\0'));
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view part = path.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.emplace_back();
      AppendAsUtf8(parts.back(), part);
    }
    start = end + 1;
  }
  return parts;
}

namespace {

// base/comp1/comp2/... as spelled.
std::string JoinUnder(const std::string& base, const std::vector<std::string>& components) {
  std::string exact = base;
  for (const std::string& component : components) {
    if (exact.empty() || exact.back() != '/') exact += '/';
    exact += component;
  }
  return exact;
}

// JoinUnder(base, SplitDevicePath(devicePath)) in one pass, without a
// string per component. *last is where the last component begins in the
// result, npos when there is none.
std::string JoinDevicePath(const std::string& base, std::u16string_view devicePath, size_t* last) {
  const std::u16string_view path = devicePath.substr(0, devicePath.find(u'\0'));
  // Room for every code unit as 3 bytes and a '/' before each component.
  std::string out(base.size() + 4 * path.size() + 1, '\0');
  std::copy(base.begin(), base.end(), out.begin());
  char* const start = &out[0];
  char* at = start + base.size();
  // Where each component kept so far begins and where the path ended before
  // it.
  constexpr size_t kDepth = 32;
  char* begins[kDepth];
  char* ends[kDepth];
  size_t depth = 0;
  for (size_t from = 0; from <= path.size();) {
    size_t end = from;
    while (end < path.size() && path[end] != u'\\' && path[end] != u'/') ++end;
    const size_t length = end - from;
    if (length == 2 && path[from] == u'.' && path[from + 1] == u'.') {
      if (depth > 0) at = ends[--depth];
    } else if (length > 0 && !(length == 1 && path[from] == u'.')) {
      if (depth == kDepth) {  // deeper than any device path: the long way
        const std::vector<std::string> components = SplitDevicePath(devicePath);
        out = JoinUnder(base, components);
        *last = components.empty() ? std::string::npos : out.size() - components.back().size();
        return out;
      }
      ends[depth] = at;
      if (at == start || at[-1] != '/') *at++ = '/';
      begins[depth++] = at;
      at = PutAsUtf8(at, path.substr(from, length));
    }
    from = end + 1;
  }
  *last = depth == 0 ? std::string::npos : static_cast<size_t>(begins[depth - 1] - start);
  out.resize(static_cast<size_t>(at - start));
  return out;
}

// The path as spelled, in the folder found for its parent before when that
// folder has another spelling. No look at the disk. *last is where the last
// component begins, npos when there is none.
std::string Candidate(const std::string& base, std::u16string_view devicePath, size_t* last) {
  std::string exact = JoinDevicePath(base, devicePath, last);
  if (*last == std::string::npos) return exact;
  // The parent as JoinUnder spells it: all but the last component and the
  // character before it.
  const std::string known = KnownFolder(std::string_view(exact).substr(0, *last - 1));
  if (known.empty()) return exact;
  std::string moved = known + "/" + exact.substr(*last);
  *last = known.size() + 1;
  return moved;
}

}  // namespace

std::string ResolveUnder(const std::string& base, const std::vector<std::string>& components) {
  // Most paths exist under their own spelling: one lstat settles them.
  const std::string exact = JoinUnder(base, components);
  struct stat exactInfo;
  if (Sys().lstat(exact.c_str(), &exactInfo) == 0) return exact;

  if (components.empty()) return exact;

  // A name that is not there under its own spelling, in a folder that is, or
  // whose spelling was found before: one look at that folder settles it.
  const std::string& last = components.back();
  const std::string parentExact = exact.substr(0, exact.size() - last.size() - 1);
  std::string folder;
  struct stat info;
  if (!parentExact.empty() && Sys().stat(parentExact.c_str(), &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    folder = parentExact;
  } else {
    const std::string known = KnownFolder(parentExact);
    if (!known.empty() && Sys().stat(known.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      folder = known;
      if (Sys().lstat((folder + "/" + last).c_str(), &info) == 0) return folder + "/" + last;
    }
  }
  if (!folder.empty()) return SettleIn(folder, last);

  std::string current = base;
  bool parentExists = true;
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (i + 1 == components.size() && parentExists) RememberFolder(parentExact, current);
    std::string prefix = (!current.empty() && current.back() == '/') ? current : current + "/";
    if (parentExists) {
      if (Sys().lstat((prefix + component).c_str(), &info) == 0) {
        current = prefix + component;
        continue;
      }
      std::string match = FindEntryIgnoringCase(current, component);
      if (!match.empty()) {
        current = prefix + match;
        continue;
      }
      parentExists = false;
    }
    current = prefix + component;
  }
  return current;
}

namespace {

// Candidate under the root in use. The host folder of the device folder that
// this thread named last is kept, for the root's version and the known
// folders it was found under: the files of one folder, named one after the
// other, convert their folder once.
std::string CandidateInRoot(std::u16string_view devicePath, size_t* last) {
  unsigned rootVersion = kRootNotReady;
  const std::string& root = ThisThreadsDeviceRoot(&rootVersion);
  const std::u16string_view path = devicePath.substr(0, devicePath.find(u'\0'));
  size_t slash = path.size();
  while (slash > 0 && path[slash - 1] != u'\\' && path[slash - 1] != u'/') --slash;
  slash = slash == 0 ? std::u16string_view::npos : slash - 1;
  const std::u16string_view name =
      slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  if (slash == std::u16string_view::npos || rootVersion == kRootNotReady || name.empty() ||
      name == u"." || name == u"..")
    return Candidate(root, path, last);
  struct Converted {
    unsigned rootVersion = kRootNotReady;
    unsigned foldersVersion = 0;
    std::u16string device;  // the device folder with its separator
    std::string host;       // its host folder with its '/'
  };
  thread_local Converted folder;
  const unsigned foldersVersion = g_foldersVersion.load(std::memory_order_acquire);
  const std::u16string_view device = path.substr(0, slash + 1);
  if (folder.rootVersion == rootVersion && folder.foldersVersion == foldersVersion &&
      folder.device.size() == device.size() &&
      std::memcmp(folder.device.data(), device.data(), device.size() * sizeof(char16_t)) == 0) {
    std::string candidate;
    candidate.reserve(folder.host.size() + 3 * name.size());
    candidate = folder.host;
    AppendAsUtf8(candidate, name);
    *last = folder.host.size();
    return candidate;
  }
  std::string candidate = Candidate(root, path, last);
  folder.rootVersion = rootVersion;
  folder.foldersVersion = foldersVersion;
  folder.device.assign(device);
  folder.host.assign(candidate, 0, *last);
  return candidate;
}

}  // namespace

std::string FirstHostPath(std::u16string_view devicePath, PathUse use) {
  size_t last = std::string::npos;
  std::string candidate = CandidateInRoot(devicePath, &last);
  if (use == PathUse::kExisting || last == std::string::npos) return candidate;
  // A name to be made or replaced: the file under another spelling, if there
  // is one, is the one replaced. A name known to be there needs no look.
  if (WasSeen(candidate)) return candidate;
  return SettleIn(candidate.substr(0, last - 1), candidate.substr(last));
}

void NoteFound(const std::string& host) {
  const size_t hash = SeenHash(host);
  g_seen[hash % kSeenSlots].store(hash, std::memory_order_relaxed);
  NoteKept(host, true);
}

void NoteGone(const std::string& host) {
  const size_t hash = SeenHash(host);
  size_t expected = hash;
  g_seen[hash % kSeenSlots].compare_exchange_strong(expected, 0, std::memory_order_relaxed);
  NoteKept(host, false);
}

KeptFolderNames::KeptFolderNames() { ++t_kept.depth; }

KeptFolderNames::~KeptFolderNames() {
  if (--t_kept.depth == 0) t_kept.folders.clear();
}

std::string SettledHostPath(std::u16string_view devicePath, const std::string& tried) {
  const std::vector<std::string> components = SplitDevicePath(devicePath);
  // The folder of the path tried is there: one look at it settles the name.
  const size_t slash = tried.find_last_of('/');
  if (!components.empty() && slash != std::string::npos && slash > 0) {
    const std::string folder = tried.substr(0, slash);
    std::string found;
    if (LookIgnoringCase(folder, components.back(), &found))
      return folder + "/" + (found.empty() ? components.back() : found);
  }
  return ResolveUnder(ThisThreadsDeviceRoot(), components);
}

std::string EscapeFileName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

FILETIME ToFileTime(long long seconds, long nanoseconds) {
  // 11644473600 seconds lie between 1601-01-01 and 1970-01-01.
  long long ticks = (seconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
  if (ticks < 0) ticks = 0;
  uint64_t value = static_cast<uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

}  // namespace platform

std::string HostPath(const std::u16string& devicePath) {
  return platform::ResolveUnder(platform::UsedDeviceRoot(), platform::SplitDevicePath(devicePath));
}

}  // namespace msgstore
