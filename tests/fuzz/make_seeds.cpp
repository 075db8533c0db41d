// Makes the seed corpus of the file-reader harnesses with the library's own
// writers, so that every seed is a file a handset may really hold.
//
//   msgstore_fuzz_seeds DIR          writes DIR/<harness>/<seed>
//   msgstore_fuzz_seeds --check DIR  fails unless DIR holds every seed as
//                                    the writers make it today
//
// The check keeps the checked-in seeds honest: a writer that changes its
// bytes shows up here. DIR may hold more files than these (inputs that once
// crashed a harness are kept beside the seeds).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "email/email_accounts.h"
#include "email/email_internal.h"
#include "ems/ems_internal.h"
#include "fuzz_support.h"
#include "mms/mms_internal.h"
#include "msgstore/email.h"
#include "msgstore/ems.h"
#include "msgstore/mms.h"
#include "platform/handset_state.h"

namespace {

using msgstore::DefaultPlatform;

// harness -> seed name -> bytes
using Seeds = std::map<std::string, std::map<std::string, std::string>>;

std::string Take(const std::string& hostPath) {
  std::string bytes;
  if (!msgstore_fuzz::GetHostFile(hostPath, &bytes)) {
    std::fprintf(stderr, "msgstore_fuzz_seeds: nothing written at %s\n", hostPath.c_str());
    std::exit(1);
  }
  std::filesystem::remove(hostPath);
  return bytes;
}

FILETIME Time(DWORD high, DWORD low) { return FILETIME{low, high}; }

// Records that the message seeds are made from. String members point at
// static text: writers only read them.
struct Message {
  std::string name;
  tagMSGPROPS props;
};

std::vector<Message> Messages() {
  static char16_t subject[] = u"Hello";
  static char16_t text2[] = u"x";
  static char16_t body[] = u"See you at 8, usual place.";
  static char16_t to[] = u"+441632960123";
  static char16_t text3[] = u"Ann";
  static char16_t msgId[] = u"<4711@smsc>";
  static char16_t unicodeSubject[] = u"Gr\u00fc\u00dfe \u20ac \U0001F600";
  static char16_t unicodeBody[] = u"\u041f\u0440\u0438\u0432\u0435\u0442, \u4f60\u597d";
  static BYTE content[] = {0x05, 0x00, 0x03, 0x2A, 0x02, 0x01, 0xFF};

  std::vector<Message> messages;
  messages.push_back({"empty", tagMSGPROPS{}});

  tagMSGPROPS full = {};
  full.bRead = 1;
  full.dwUser1 = 0x11;
  full.pszText1 = body;
  full.pszText2 = text2;
  full.cbData = sizeof content;
  full.pData = content;
  full.ftIndexTime = Time(0x01DA1234, 0x89ABCDEF);
  full.ftTime = Time(0x01DA1234, 0x80000000);
  full.pszTo = to;
  full.pszText3 = text3;
  full.pszSubject = subject;
  full.dwFolder = EMS_FOLDER_INBOX;
  full.wStatus = 2;
  full.dwOid = 42;
  full.dwUser2 = 0x22;
  full.pszMsgID = msgId;
  full.wUser1 = 0x33;
  full.wUser2 = 0x44;
  full.dwUser3 = 0x55;
  messages.push_back({"strings-content", full});

  tagMSGPROPS unicode = {};
  unicode.pszSubject = unicodeSubject;
  unicode.pszText1 = unicodeBody;
  unicode.pszTo = to;
  unicode.dwFolder = EMS_FOLDER_SIM_INBOX;
  unicode.dwOid = 7;
  unicode.ftIndexTime = Time(0x01D9FFFF, 1);
  messages.push_back({"unicode-sim", unicode});
  return messages;
}

void MakeMessageSeeds(Seeds& seeds) {
  WCHAR path[MAX_PATH];
  EMSMsgStore_CreateDir(false);
  EMSMsgStore_GetFilePath(false, 1, EMS_FOLDER_INBOX, path);
  const std::string host = msgstore::HostPath(path);
  for (Message& m : Messages()) {
    EMSMsgStore_WriteToFile(path, &m.props);
    std::string current = Take(host);
    seeds["ems_read"][m.name] = current;
    seeds["ems_quick_read"][m.name] = current;
    EMSMsgStore_WriteToFileOld(path, &m.props);
    seeds["ems_read_old"][m.name] = Take(host);
  }
}

// An index of one record, then one of three, two of them at the same time,
// as add makes them.
void AddIndexSeeds(Seeds& seeds, const char* harness, void (*add)(DWORD, DWORD, FILETIME),
                   DWORD folder, const WCHAR* path) {
  const std::string host = msgstore::HostPath(path);
  add(1, folder, Time(0x01DA0000, 100));
  seeds[harness]["one"] = Take(host);
  add(1, folder, Time(0x01DA0000, 100));
  add(2, folder, Time(0x01DA0000, 300));
  add(3, folder, Time(0x01DA0000, 100));
  seeds[harness]["three"] = Take(host);
}

// The MMS and e-mail stores' files of the same messages, with their own
// records: empty for "empty", every member set for the others.
void MakeMmsAndEmailSeeds(Seeds& seeds) {
  static char16_t mmsText[] = u"application/vnd.wap.multipart.related";
  static char16_t from[] = u"ann@example.net";
  static char16_t server[] = u"pop.example.net";
  WCHAR mmsPath[MAX_PATH], emailPath[MAX_PATH];
  MMSMsgStore_CreateDir(false);
  MMSMsgStore_GetFilePath(false, 1, MMS_FOLDER_INBOX, mmsPath);
  EmailMsgStore_CreateDir(false);
  EmailMsgStore_GetFilePath(false, 1, EMAIL_FOLDER_SENT, emailPath);
  const std::string mmsHost = msgstore::HostPath(mmsPath);
  const std::string emailHost = msgstore::HostPath(emailPath);
  for (Message& m : Messages()) {
    tagMMSMSGPROPS mms = {};
    tagEMAILMSGPROPS email = {};
    if (m.name != "empty") {
      mms = {0x101, mmsText, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107};
      email = {0x201, 0x202, from, server, -1, 805306371, 0x203};
    }
    MMSMsgStore_WriteToFile(mmsPath, &m.props, &mms);
    std::string current = Take(mmsHost);
    seeds["mms_read"][m.name] = current;
    seeds["mms_quick_read"][m.name] = current;
    MMSMsgStore_WriteToFileOld(mmsPath, &m.props, &mms);
    seeds["mms_read_old"][m.name] = Take(mmsHost);

    EmailMsgStore_WriteToFile(emailPath, &m.props, &email);
    current = Take(emailHost);
    seeds["email_read"][m.name] = current;
    seeds["email_quick_read"][m.name] = current;
    EmailMsgStore_WriteToFileOld(emailPath, &m.props, &email);
    seeds["email_read_old"][m.name] = Take(emailHost);
  }

  WCHAR index[MAX_PATH];
  msgstore::mms::IndexPath(MMS_FOLDER_INBOX, index);
  AddIndexSeeds(seeds, "mms_index", MMSMsgStore_AddMsgToIni, MMS_FOLDER_INBOX, index);
  msgstore::email::IndexPath(805306371, index);
  AddIndexSeeds(seeds, "email_index", EmailMsgStore_AddMsgToIni, 805306371, index);
}

void MakeIndexSeeds(Seeds& seeds) {
  WCHAR index[MAX_PATH];
  EMSMsgStore_GetFolderPath(false, EMS_FOLDER_INBOX, index);
  std::u16string path = std::u16string(index) + u"\\EmsIni";
  const std::string host = msgstore::HostPath(path);

  EMSMsgStore_AddMsgToIni(1, EMS_FOLDER_INBOX, Time(0x01DA0000, 100));
  seeds["ems_index"]["one"] = Take(host);

  // Three, one of them a SIM copy, two at the same time.
  EMSMsgStore_AddMsgToIni(1, EMS_FOLDER_INBOX, Time(0x01DA0000, 100));
  EMSMsgStore_AddMsgToIni(2, EMS_FOLDER_SIM_INBOX, Time(0x01DA0000, 300));
  EMSMsgStore_AddMsgToIni(3, EMS_FOLDER_INBOX, Time(0x01DA0000, 100));
  seeds["ems_index"]["three"] = Take(host);
}

void MakeCounterSeeds(Seeds& seeds) {
  const std::string host = msgstore::HostPath(msgstore::ems::kCounterFile);
  msgstore::ems::GetNextEmsOid();
  seeds["ems_counter"]["first"] = Take(host);
  msgstore::SetIdCounter(msgstore::ems::kCounter, 0x12345);
  msgstore::ems::GetNextEmsOid();
  seeds["ems_counter"]["later"] = Take(host);
}

void MakeRegistrySeeds(Seeds& seeds) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, msgstore_fuzz::kAccountsKey, 0, nullptr,
                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  const std::string host = msgstore_fuzz::AccountIdValueFile();
  auto set = [&](const char* name, DWORD type, const void* data, DWORD size) {
    RegSetValueExW(key, msgstore_fuzz::kAccountIdValue, 0, type, static_cast<const BYTE*>(data),
                   size);
    seeds["registry"][name] = Take(host);
  };
  DWORD counter = 5;
  set("dword", REG_DWORD, &counter, sizeof counter);
  static const char16_t server[] = u"pop.example.net";
  set("string", REG_SZ, server, sizeof server);
  set("empty-binary", REG_BINARY, nullptr, 0);
  RegCloseKey(key);
}

void MakeHandsetSeeds(Seeds& seeds) {
  const std::string host = msgstore_fuzz::HandsetStateFile();
  DefaultPlatform platform;

  DefaultPlatform::SetCounter("SentInSim", 2);
  seeds["handset_state"]["one-counter"] = Take(host);

  platform.xSetEmsRecvMsgCount(3);
  platform.xSetEmsReadMsgCount(1);
  platform.xSetEms_SDRecvMsgCount(4);
  DefaultPlatform::SetCounter("UnsentInSim", 1);
  seeds["handset_state"]["counters"] = Take(host);

  DefaultPlatform::SetSystemLanguage(u"DEU");
  DefaultPlatform::SetCardFlags(2);
  DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip", 65536);
  seeds["handset_state"]["settings"] = Take(host);

  // A language that is not plain ASCII is kept escaped.
  DefaultPlatform::SetSystemLanguage(u"\u0395\u039b\u039b");
  seeds["handset_state"]["escaped"] = Take(host);
}

void MakeAccountSeeds(Seeds& seeds) {
  std::filesystem::create_directories(msgstore::HostPath(u"\\DiskOnChip\\User\\MESSAGING"));
  const std::string host = msgstore::HostPath(msgstore::email::kAccountDatabase);
  msgstore::email::UnloadAccounts();
  EmailMsgStore_Close(nullptr);
  seeds["email_accounts"]["empty"] = Take(host);

  static char16_t name[] = u"Work <ann@example.net>";
  static char16_t unicode[] = u"\u00c9milie \u4f60\u597d \U0001F600";
  static char16_t none[] = u"";
  static std::u16string longest(255, u'w');
  struct Account {
    tagEMAILACCOUNTPROPS props;
    DWORD id;
  };
  const Account accounts[] = {{{0x11, 1, 2, 3, 0, name}, 0},  // from the registry counter
                              {{0x22, 2, 0, 0xFFFF, 0, unicode}, 0x30000010},
                              {{0x33, 1, 5, 6, 0, none}, 0x30000011},
                              {{0xFFFFFFFF, 7, 0, 0, 0, longest.data()}, 0x30000011}};
  for (Account a : accounts) EmailMsgStore_WriteAccountData(nullptr, &a.props, a.id);
  EmailMsgStore_Close(nullptr);
  seeds["email_accounts"]["accounts"] = Take(host);
  msgstore::email::UnloadAccounts();
}

int Write(const Seeds& seeds, const std::string& dir) {
  for (const auto& [harness, files] : seeds) {
    std::filesystem::create_directories(dir + "/" + harness);
    for (const auto& [name, bytes] : files) {
      std::string path = dir + "/" + harness + "/" + name;
      msgstore_fuzz::PutHostFile(path, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 bytes.size());
    }
  }
  return 0;
}

int Check(const Seeds& seeds, const std::string& dir) {
  int failures = 0, checked = 0;
  for (const auto& [harness, files] : seeds) {
    for (const auto& [name, bytes] : files) {
      std::string path = dir + "/" + harness + "/" + name;
      std::string stored;
      ++checked;
      if (!msgstore_fuzz::GetHostFile(path, &stored)) {
        std::fprintf(stderr, "missing seed: %s\n", path.c_str());
        ++failures;
      } else if (stored != bytes) {
        std::fprintf(stderr, "seed differs from what the writers make now: %s\n", path.c_str());
        ++failures;
      }
    }
  }
  std::printf("seed corpus: %d checked, %d differ\n", checked, failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: %s [--check] DIR\n", argv[0]);
    return 2;
  }
  msgstore_fuzz::UseScratchRoot("seeds");
  Seeds seeds;
  MakeMessageSeeds(seeds);
  MakeMmsAndEmailSeeds(seeds);
  MakeIndexSeeds(seeds);
  MakeCounterSeeds(seeds);
  MakeRegistrySeeds(seeds);
  MakeHandsetSeeds(seeds);
  MakeAccountSeeds(seeds);
  return check ? Check(seeds, argv[2]) : Write(seeds, argv[1]);
}
