// Fixed public types of the message store. Other programs compile against
// these, so field order and widths must not change.
#ifndef MSGSTORE_TYPES_H_
#define MSGSTORE_TYPES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(MSGSTORE_BUILDING)
#define MSGSTORE_API __attribute__((visibility("default")))
#else
#define MSGSTORE_API
#endif

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef char16_t WCHAR;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HMODULE;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// A growable array with the names of MFC's CArray. Only what the stores and
// their callers use is provided.
template <class TYPE, class ARG_TYPE>
class CArray {
 public:
  CArray() = default;
  long GetSize() const { return static_cast<long>(items_.size()); }
  long GetCount() const { return GetSize(); }
  bool IsEmpty() const { return items_.empty(); }
  void SetSize(long newSize, long /*growBy*/ = -1) {
    items_.resize(newSize < 0 ? 0 : static_cast<size_t>(newSize));
  }
  void RemoveAll() { items_.clear(); }
  long Add(ARG_TYPE element) {
    items_.push_back(element);
    return GetSize() - 1;
  }
  void RemoveAt(long index, long count = 1) {
    if (index < 0 || count <= 0 || index >= GetSize()) return;
    long end = index + count > GetSize() ? GetSize() : index + count;
    items_.erase(items_.begin() + index, items_.begin() + end);
  }
  TYPE GetAt(long index) const { return items_.at(static_cast<size_t>(index)); }
  TYPE& ElementAt(long index) { return items_.at(static_cast<size_t>(index)); }
  const TYPE& operator[](long index) const { return items_.at(static_cast<size_t>(index)); }
  TYPE& operator[](long index) { return items_.at(static_cast<size_t>(index)); }

 private:
  std::vector<TYPE> items_;
};

// One entry of a message list.
struct tagOidArray {
  BYTE bMemoryCard;  // 0 phone memory, 1 memory card
  BYTE byFolder;     // folder mark (see the listing operations)
  DWORD dwOid;       // message identifier
};

typedef CArray<tagOidArray, tagOidArray> CMsgList;

// The message record shared by the three stores. The eight pointer members
// are owned heap blocks (calloc/free); release them with the store's
// FreeMsgProps operation.
struct tagMSGPROPS {
  BOOL bRead;
  DWORD dwUser1;
  WCHAR* pszText1;
  WCHAR* pszText2;
  DWORD cbData;
  BYTE* pData;
  FILETIME ftIndexTime;
  FILETIME ftTime;
  WCHAR* pszTo;
  WCHAR* pszText3;
  WCHAR* pszText4;
  WCHAR* pszSubject;
  DWORD dwFolder;
  WORD wStatus;
  DWORD dwOid;
  DWORD dwUser2;
  WCHAR* pszMsgID;
  WORD wUser1;
  WORD wUser2;
  DWORD dwUser3;
};

// The MMS part of a message, passed beside tagMSGPROPS.
struct tagMMSMSGPROPS {
  WORD wMmsValue1;
  WCHAR* pszMmsText;
  DWORD dwMmsValue1;
  WORD wMmsValue2;
  WORD wMmsQuick1;
  DWORD dwMmsValue2;
  WORD wMmsValue3;
  WORD wMmsQuick2;
};

// The e-mail part of a message, passed beside tagMSGPROPS.
struct tagEMAILMSGPROPS {
  WORD wQuickValue;
  DWORD dwEmailData1;
  WCHAR* pszEmailText1;
  WCHAR* pszEmailText2;
  int32_t dwReadReportStatus;
  DWORD dwAccountId;
  DWORD dwEmailData2;
};

// An e-mail account record as callers exchange it with the account store.
struct tagEMAILACCOUNTPROPS {
  DWORD dwData;
  DWORD dwFolder;
  WORD wData1;
  WORD wData2;
  DWORD dwAccountId;
  WCHAR* pszText;
};

// Storage argument of the write paths.
#define STORAGE_AUTO (-1)
#define STORAGE_INBOX_FULL 2
#define STORAGE_NO_SPACE 2
#define STORAGE_BOTH_FULL 3

#endif  // MSGSTORE_TYPES_H_
