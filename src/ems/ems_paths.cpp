// EMS folder tree and paths: which folder lives on which storage, and the
// directory and file names that stand for it.
#include <string>

#include "common/msg_str.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::ems::kCardRoot;
using msgstore::ems::kPhoneRoot;

enum class CardRule {
  kOwn,       // the folder has a directory of its own on the card
  kNone,      // the folder exists in phone memory only
  kSimPhone,  // SIM copy: no card directory, but file paths name the phone file
  kPhone,     // NONE: the card resolves to the phone directory everywhere
};

struct EmsFolder {
  DWORD id;
  const WCHAR* dir;
  CardRule card;
};

// In the order in which the phone tree is created.
constexpr EmsFolder kFolders[] = {
    {EMS_FOLDER_INBOX, u"INBOX", CardRule::kOwn},
    {EMS_FOLDER_DRAFT, u"DRAFT", CardRule::kOwn},
    {EMS_FOLDER_SENT, u"SENT", CardRule::kOwn},
    {EMS_FOLDER_UNSENT, u"UNSENT", CardRule::kOwn},
    {EMS_FOLDER_REPORT, u"REPORT", CardRule::kNone},
    {EMS_FOLDER_SPAM, u"SPAM", CardRule::kOwn},
    {EMS_FOLDER_NONE, u"NONE", CardRule::kPhone},
    {EMS_FOLDER_SIM_INBOX, u"SIM_INBOX", CardRule::kSimPhone},
    {EMS_FOLDER_SIM_SENT, u"SIM_SENT", CardRule::kSimPhone},
    {EMS_FOLDER_SIM_UNSENT, u"SIM_UNSENT", CardRule::kSimPhone},
};

const EmsFolder* FindFolder(DWORD folder) {
  for (const EmsFolder& f : kFolders)
    if (f.id == folder) return &f;
  return nullptr;
}

// The directory of folder on the storage, or "" when the storage lacks it.
// forFile: a SIM folder on the card resolves to its phone directory.
std::u16string FolderDir(bool memoryCard, DWORD folder, bool forFile) {
  const EmsFolder* f = FindFolder(folder);
  if (f == nullptr) return std::u16string();
  bool onCard = memoryCard;
  if (memoryCard) {
    switch (f->card) {
      case CardRule::kOwn:
        break;
      case CardRule::kNone:
        return std::u16string();
      case CardRule::kSimPhone:
        if (!forFile) return std::u16string();
        onCard = false;
        break;
      case CardRule::kPhone:
        onCard = false;
        break;
    }
  }
  return msgstore::JoinPath(onCard ? kCardRoot : kPhoneRoot, f->dir);
}

void EnsureDir(const std::u16string& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    CreateDirectoryW(path.c_str(), nullptr);
}

}  // namespace

int EMSMsgStore_CreateDir(bool bMemoryCard) {
  const std::u16string volume = bMemoryCard ? u"\\SD Card" : u"\\DiskOnChip";
  const std::u16string root = bMemoryCard ? kCardRoot : kPhoneRoot;
  EnsureDir(volume + u"\\User");
  EnsureDir(volume + u"\\User\\MESSAGING");
  EnsureDir(root);
  for (const EmsFolder& f : kFolders) {
    if (bMemoryCard && f.card != CardRule::kOwn) continue;
    EnsureDir(msgstore::JoinPath(root, f.dir));
  }
  return 1;
}

int EMSMsgStore_GetFolderPath(bool bMemoryCard, DWORD folder, WCHAR* path) {
  std::u16string dir = FolderDir(bMemoryCard, folder, false);
  if (dir.empty() || path == nullptr) return 0;
  msgstore::CopyPath(path, dir);
  return 1;
}

int EMSMsgStore_GetFilePath(bool bMemoryCard, DWORD oid, DWORD folder, WCHAR* path) {
  std::u16string dir = FolderDir(bMemoryCard, folder, true);
  if (dir.empty() || path == nullptr) return 0;
  msgstore::CopyPath(path, msgstore::JoinPath(dir, msgstore::DecimalU16(oid) + u".sms"));
  return 1;
}

namespace msgstore {
namespace ems {

DWORD IndexFolderOf(DWORD folder) {
  switch (folder) {
    case EMS_FOLDER_SIM_INBOX:
      return EMS_FOLDER_INBOX;
    case EMS_FOLDER_SIM_SENT:
      return EMS_FOLDER_SENT;
    case EMS_FOLDER_SIM_UNSENT:
      return EMS_FOLDER_UNSENT;
    default:
      return folder;
  }
}

bool IndexPath(DWORD folder, WCHAR* path) {
  std::u16string dir = FolderDir(false, folder, false);
  if (dir.empty()) return false;
  CopyPath(path, JoinPath(dir, kIndexName));
  return true;
}

}  // namespace ems
}  // namespace msgstore
