// The handset platform as the message store sees it: the device root (a host
// directory standing for the handset's "\"), Win32-style file, find, mutex
// and registry functions over it, and the handset services (card state, SMS
// counters, system language, notice windows) behind msgstore::Platform.
#ifndef MSGSTORE_PLATFORM_H_
#define MSGSTORE_PLATFORM_H_

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "msgstore/types.h"

// ---------------------------------------------------------------------------
// Win32-style constants
// ---------------------------------------------------------------------------
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define MOVEFILE_REPLACE_EXISTING 0x00000001u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

typedef void* LPSECURITY_ATTRIBUTES;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};

// Files. Paths are device paths ("\DiskOnChip\User\..."); names are matched
// case-insensitively like on the handset.
MSGSTORE_API HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode,
                                LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                                DWORD flagsAndAttributes, HANDLE templateFile);
MSGSTORE_API BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                           void* overlapped);
MSGSTORE_API BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite,
                            DWORD* bytesWritten, void* overlapped);
MSGSTORE_API DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh);
MSGSTORE_API DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh,
                                  DWORD moveMethod);
// Closes file, find and mutex handles.
MSGSTORE_API BOOL CloseHandle(HANDLE object);
MSGSTORE_API BOOL DeleteFileW(const WCHAR* fileName);
MSGSTORE_API BOOL CopyFileW(const WCHAR* existingFileName, const WCHAR* newFileName,
                            BOOL failIfExists);
// Renames a file within its volume. With MOVEFILE_REPLACE_EXISTING an existing
// file of the new name is replaced in one step: whoever opens the new name
// sees the old file or the new one, never neither and never a mix.
MSGSTORE_API BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName, DWORD flags);
// 0xFFFFFFFF when the path does not exist.
MSGSTORE_API DWORD GetFileAttributesW(const WCHAR* fileName);
// Makes one directory; the parent must exist.
MSGSTORE_API BOOL CreateDirectoryW(const WCHAR* pathName, LPSECURITY_ATTRIBUTES securityAttributes);
// Patterns may hold '*' and '?' in the last component, matched case-insensitively.
MSGSTORE_API HANDLE FindFirstFileW(const WCHAR* fileName, WIN32_FIND_DATAW* findData);
MSGSTORE_API BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData);
MSGSTORE_API BOOL FindClose(HANDLE findFile);
MSGSTORE_API LONG CompareFileTime(const FILETIME* fileTime1, const FILETIME* fileTime2);
MSGSTORE_API void Sleep(DWORD milliseconds);

// Processes of the handset: the caller's identifier, and whether a process
// of a given identifier is still running.
MSGSTORE_API DWORD GetCurrentProcessId();
MSGSTORE_API BOOL IsProcessRunning(DWORD processId);

// Named mutexes, shared by every process and thread that uses the same device
// root. A holder that dies releases the mutex.
MSGSTORE_API HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES securityAttributes, BOOL initialOwner,
                                 const WCHAR* name);
MSGSTORE_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
MSGSTORE_API BOOL ReleaseMutex(HANDLE mutex);

// ---------------------------------------------------------------------------
// Registry, persisted under the device root.
// ---------------------------------------------------------------------------
typedef void* HKEY;
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_OPTION_NON_VOLATILE 0u
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

MSGSTORE_API LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* className,
                                  DWORD options, DWORD samDesired,
                                  LPSECURITY_ATTRIBUTES securityAttributes, HKEY* result,
                                  DWORD* disposition);
MSGSTORE_API LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, DWORD samDesired,
                                HKEY* result);
MSGSTORE_API LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                   BYTE* data, DWORD* cbData);
MSGSTORE_API LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD cbData);
MSGSTORE_API LONG RegFlushKey(HKEY key);
MSGSTORE_API LONG RegCloseKey(HKEY key);

namespace msgstore {

// ---------------------------------------------------------------------------
// Device root
// ---------------------------------------------------------------------------
// The host directory that stands for the handset's "\". Initially the value
// of MSGSTORE_ROOT, else "${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device".
// The phone volume "DiskOnChip" is made
// when a root is first used; the memory card is inserted exactly when
// "SD Card" exists under the root.
MSGSTORE_API void SetDeviceRoot(const std::string& hostDirectory);
MSGSTORE_API std::string GetDeviceRoot();

// Files are rewritten under a temporary name in their own directory and then
// renamed over the old file: "<name>.<process id>.<serial>.tmp". No store
// pattern matches such a name. A temporary file whose process is no longer
// running was left by a writer that died and may be removed.
MSGSTORE_API std::u16string TempPathFor(const std::u16string& path);
// True when name (a file name, not a path) is such a temporary name; its
// writer's process id goes to *processId when given.
MSGSTORE_API bool IsTempFileName(const std::u16string& name, DWORD* processId);

// The one way a file is replaced whole: the content is written to a stream on
// the temporary file beside path, and Commit renames it over path. A write,
// flush, close or rename that fails removes the temporary file and leaves
// path as it was; so does a replacement never committed.
class MSGSTORE_API FileReplacement {
 public:
  explicit FileReplacement(const WCHAR* path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // The unbuffered stream on the temporary file; nullptr when it could not be
  // made.
  FILE* stream() const { return stream_; }
  // True when path now holds everything written to the stream.
  bool Commit();

 private:
  std::u16string path_;
  std::u16string temp_;
  FILE* stream_ = nullptr;
};
// Replaces path with size bytes of data; *opened tells whether the temporary
// file could be made at all.
MSGSTORE_API bool ReplaceFileContents(const WCHAR* path, const void* data, DWORD size,
                                      bool* opened = nullptr);
// The temporary files (device paths) in the tree under the device folder dir
// ("\\" for the whole device) whose writer no longer runs.
MSGSTORE_API std::vector<std::u16string> FindStaleTempFiles(const std::u16string& dir);

// The host path that a device path names, resolved case-insensitively
// component by component; components that do not exist keep their spelling.
MSGSTORE_API std::string HostPath(const std::u16string& devicePath);

// ---------------------------------------------------------------------------
// Handset services
// ---------------------------------------------------------------------------
class MSGSTORE_API Platform {
 public:
  virtual ~Platform() = default;
  virtual int xGetSDCardState() = 0;
  virtual void xSetEmsRecvMsgCount(int n) = 0;
  virtual void xSetEmsReadMsgCount(int n) = 0;
  virtual void xSetEms_SDRecvMsgCount(int n) = 0;
  virtual void xSetEms_SDReadMsgCount(int n) = 0;
  virtual DWORD xGetEms_SDRecvMsgCount() = 0;
  virtual DWORD xGetEms_SDReadMsgCount() = 0;
  virtual DWORD xGetSentSmsCountInSim() = 0;
  virtual void xSetSentSmsCountInSim(DWORD n) = 0;
  virtual DWORD xGetUnsentSmsCountInSim() = 0;
  virtual void xSetUnsentSmsCountInSim(DWORD n) = 0;
  virtual std::u16string xGetSystemLanguage() = 0;
  virtual HWND FindWindowW(const WCHAR* className, const WCHAR* windowName) = 0;
  virtual BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual BOOL GetDiskFreeSpaceExW(const WCHAR* volumeRoot, uint64_t* freeBytesAvailable,
                                   uint64_t* totalBytes, uint64_t* totalFreeBytes) = 0;
  // Modules (the language resource module of library start-up). By default a
  // module is a file of that name, matched case-insensitively, in the
  // device's "\Windows" directory, held open until it is freed; looking makes
  // nothing under the device root. Null when there is none.
  virtual HMODULE LoadLibraryW(const WCHAR* fileName);
  // False for a null or unknown module.
  virtual BOOL FreeLibrary(HMODULE module);
  // Whether the card is in (bit 1 of the card state), for readers that need
  // no other bit: by default from xGetSDCardState.
  virtual bool CardInserted();
};

// Replaces the services every store uses; nullptr restores the default.
MSGSTORE_API void SetPlatform(Platform* platform);
MSGSTORE_API Platform& GetPlatform();

// The default platform keeps its state under the device root, in
// ".platform/", so that every process using the same root sees the same
// handset:
// - card state: bit 1 exactly when "SD Card" exists; bits 2 and 4 from the
//   persisted card flags (SetCardFlags);
// - SMS counters: the four EMS counters are changed by their setters, which
//   ADD the signed argument (never going below 0); the two SIM counters are
//   REPLACED by their setters;
// - system language: persisted, "ENG" until set;
// - free space: the host file system's, capped by a persisted limit per
//   volume when one is set;
// - windows: an abstract Unix datagram socket per window class and device
//   root; FindWindowW finds a class that some process has registered with a
//   WindowEndpoint, and PostMessageW never blocks.
class MSGSTORE_API DefaultPlatform : public Platform {
 public:
  int xGetSDCardState() override;
  // A look at the card's directory, without reading the card's flags.
  bool CardInserted() override;
  void xSetEmsRecvMsgCount(int n) override;
  void xSetEmsReadMsgCount(int n) override;
  void xSetEms_SDRecvMsgCount(int n) override;
  void xSetEms_SDReadMsgCount(int n) override;
  DWORD xGetEms_SDRecvMsgCount() override;
  DWORD xGetEms_SDReadMsgCount() override;
  DWORD xGetSentSmsCountInSim() override;
  void xSetSentSmsCountInSim(DWORD n) override;
  DWORD xGetUnsentSmsCountInSim() override;
  void xSetUnsentSmsCountInSim(DWORD n) override;
  std::u16string xGetSystemLanguage() override;
  HWND FindWindowW(const WCHAR* className, const WCHAR* windowName) override;
  BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL GetDiskFreeSpaceExW(const WCHAR* volumeRoot, uint64_t* freeBytesAvailable,
                           uint64_t* totalBytes, uint64_t* totalFreeBytes) override;

  // Simulated handset state, for tools and tests.
  // Counter names: "EmsRecv", "EmsRead", "Ems_SDRecv", "Ems_SDRead",
  // "SentInSim", "UnsentInSim".
  struct CounterName {
    const char* name;
    const char* meaning;  // "received messages, phone inbox"
  };
  static const std::vector<CounterName>& Counters();  // in the order above
  // The counter of exactly that name, or null.
  static const CounterName* FindCounter(const std::string& name);
  // The names above, for messages: "EmsRecv, EmsRead, ...".
  static std::string CounterNames();
  static DWORD GetCounter(const std::string& name);
  static void SetCounter(const std::string& name, DWORD value);
  // Card flags 2 and 4 ("cannot take a message now"); bit 1 is ignored.
  static int GetCardFlags();
  static void SetCardFlags(int flags);
  // Inserting restores the card that was ejected last (or an empty one);
  // ejecting keeps its contents aside under the device root.
  static bool InsertCard();
  static bool EjectCard();
  static void SetSystemLanguage(const std::u16string& language);
  // A cap on the free bytes of a volume ("\DiskOnChip" or "\SD Card");
  // UINT64_MAX removes the cap.
  static void SetFreeSpaceCap(const std::u16string& volumeRoot, uint64_t bytes);
};

// A window that receives posted messages: registers a window class for the
// device root of the moment, for as long as the object lives.
struct WindowMessage {
  std::u16string className;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

class MSGSTORE_API WindowEndpoint {
 public:
  // Registers className; valid() is false when another live process already
  // has a window of that class, or the endpoint cannot be made.
  explicit WindowEndpoint(const std::u16string& className);
  ~WindowEndpoint();
  WindowEndpoint(const WindowEndpoint&) = delete;
  WindowEndpoint& operator=(const WindowEndpoint&) = delete;

  bool valid() const;
  // Waits up to timeoutMs (-1: forever) for one message.
  bool Receive(WindowMessage* out, int timeoutMs);
  // A descriptor that becomes readable when a message is waiting (for poll).
  int fd() const;

 private:
  std::u16string className_;
  int fd_ = -1;
};

}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_H_
