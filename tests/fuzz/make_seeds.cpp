// Makes the seed corpus of the harnesses with the library's own writers, so
// that every seed is a file a handset may really hold.
//
//   msgstore_fuzz_seeds DIR          writes DIR/<harness>/<seed>
//   msgstore_fuzz_seeds --check DIR  fails unless DIR holds every seed as
//                                    the writers make it today
//
// DIR may hold more files (inputs that once made a harness fail).
#include <cstring>

#include "common/id_counter.h"
#include "email/email_accounts.h"
#include "fuzz_support.h"

namespace {

using msgstore::DefaultPlatform;
using namespace msgstore_fuzz;

bool g_check = false;
std::string g_dir;
int g_checked = 0, g_differ = 0;

// Takes the file just written at host as the seed name of the harnesses.
void Seed(std::initializer_list<std::string> harnesses, const char* name, const std::string& host) {
  std::string bytes, stored;
  FUZZ_CHECK(GetHostFile(host, &bytes) && std::filesystem::remove(host));
  for (const std::string& harness : harnesses) {
    const std::string path = g_dir + "/" + harness + "/" + name;
    if (!g_check) {
      std::filesystem::create_directories(g_dir + "/" + harness);
      PutHostFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    } else if (++g_checked, !GetHostFile(path, &stored) || stored != bytes) {
      std::fprintf(stderr, "seed missing or not what the writers make now: %s\n", path.c_str());
      ++g_differ;
    }
  }
}
std::string Host(const WCHAR* path) { return msgstore::HostPath(path); }
FILETIME Time(DWORD high, DWORD low) { return FILETIME{low, high}; }

// Each message in every layout of every store (an empty record, and records
// with strings and content whose store parts have every member set), and
// each store's index.
void StoreSeeds() {
  static char16_t subject[] = u"Hello", text2[] = u"x", body[] = u"See you at 8, usual place.",
                  to[] = u"+441632960123", text3[] = u"Ann", msgId[] = u"<4711@smsc>",
                  uSubject[] = u"Gr\u00fc\u00dfe \u20ac \U0001F600",
                  uBody[] = u"\u041f\u0440\u0438\u0432\u0435\u0442, \u4f60\u597d",
                  mmsText[] = u"application/vnd.wap.multipart.related", from[] = u"ann@example.net",
                  server[] = u"pop.example.net";
  static BYTE content[] = {0x05, 0x00, 0x03, 0x2A, 0x02, 0x01, 0xFF};
  const tagMMSMSGPROPS mms = {0x101, mmsText, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107};
  const tagEMAILMSGPROPS email = {0x201, 0x202, from, server, -1, kAccount, 0x203};
  struct {
    const char* name;
    tagMSGPROPS msg;
    Extra extra;
  } messages[] = {// clang-format off
      {"empty", {}, {}},
      {"strings-content", {1, 0x11, body, text2, sizeof content, content,
        Time(0x01DA1234, 0x89ABCDEF), Time(0x01DA1234, 0x80000000), to, text3, nullptr, subject,
        EMS_FOLDER_INBOX, 2, 42, 0x22, msgId, 0x33, 0x44, 0x55}, {mms, email}},
      {"unicode-sim", {0, 0, uBody, nullptr, 0, nullptr, Time(0x01D9FFFF, 1), {}, to, nullptr,
        nullptr, uSubject, EMS_FOLDER_SIM_INBOX, 0, 7, 0, nullptr, 0, 0, 0}, {mms, email}}};
  // clang-format on
  for (const Kind kind : {kEms, kMms, kEmail}) {
    const Store& store = kStores[kind];
    const std::string name = store.name;
    WCHAR path[MAX_PATH];
    store.createDir(false);
    store.ops.getFilePath(false, 1, store.msgFolder, path);
    for (auto& x : messages) {
      WriteFile(kind, false, path, &x.msg, &x.extra);
      Seed({name + "_read", name + "_quick_read"}, x.name, Host(path));
      WriteFile(kind, true, path, &x.msg, &x.extra);
      Seed({name + "_read_old"}, x.name, Host(path));
    }
    // An index of one record, then one of three, two of them at the same
    // time, as the add makes them (the EMS one with a SIM copy).
    store.ops.indexFile(store.indexFolder, path);
    store.add(1, store.indexFolder, Time(0x01DA0000, 100));
    Seed({name + "_index"}, "one", Host(path));
    store.add(1, store.indexFolder, Time(0x01DA0000, 100));
    store.add(2, store.addFolder, Time(0x01DA0000, 300));
    store.add(3, store.indexFolder, Time(0x01DA0000, 100));
    Seed({name + "_index"}, "three", Host(path));
  }
}

void PlatformSeeds() {
  const std::string counter = Host(msgstore::ems::kStore.counterFile);
  msgstore::ems::GetNextEmsOid();
  Seed({"ems_counter"}, "first", counter);
  msgstore::SetIdCounter(msgstore::ems::kCounter, 0x12345);
  msgstore::ems::GetNextEmsOid();
  Seed({"ems_counter"}, "later", counter);

  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAccountsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  auto value = [&](const char* name, DWORD type, const void* data, DWORD size) {
    RegSetValueExW(key, kAccountIdValue, 0, type, static_cast<const BYTE*>(data), size);
    Seed({"registry"}, name, AccountIdValueFile());
  };
  const DWORD five = 5;
  static const char16_t server[] = u"pop.example.net";
  value("dword", REG_DWORD, &five, sizeof five);
  value("string", REG_SZ, server, sizeof server);
  value("empty-binary", REG_BINARY, nullptr, 0);
  RegCloseKey(key);

  const std::string state = HandsetStateFile();
  DefaultPlatform platform;
  DefaultPlatform::SetCounter("SentInSim", 2);
  Seed({"handset_state"}, "one-counter", state);
  platform.xSetEmsRecvMsgCount(3);
  platform.xSetEmsReadMsgCount(1);
  platform.xSetEms_SDRecvMsgCount(4);
  DefaultPlatform::SetCounter("UnsentInSim", 1);
  Seed({"handset_state"}, "counters", state);
  DefaultPlatform::SetSystemLanguage(u"DEU");
  DefaultPlatform::SetCardFlags(2);
  DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip", 65536);
  Seed({"handset_state"}, "settings", state);
  DefaultPlatform::SetSystemLanguage(u"\u0395\u039b\u039b");  // kept escaped
  Seed({"handset_state"}, "escaped", state);
}

void AccountSeeds() {
  std::filesystem::create_directories(Host(u"\\DiskOnChip\\User\\MESSAGING"));
  const std::string host = Host(msgstore::email::kAccountStore.database);
  msgstore::email::UnloadAccounts();
  EmailMsgStore_Close(nullptr);
  Seed({"email_accounts"}, "empty", host);
  static char16_t name[] = u"Work <ann@example.net>", none[] = u"",
                  unicode[] = u"\u00c9milie \u4f60\u597d \U0001F600";
  static std::u16string longest(255, u'w');
  struct Account {
    tagEMAILACCOUNTPROPS props;
    DWORD id;  // 0: from the registry counter
  } accounts[] = {{{0x11, 1, 2, 3, 0, name}, 0},
                  {{0x22, 2, 0, 0xFFFF, 0, unicode}, 0x30000010},
                  {{0x33, 1, 5, 6, 0, none}, 0x30000011},
                  {{0xFFFFFFFF, 7, 0, 0, 0, longest.data()}, 0x30000011}};
  for (Account& a : accounts) EmailMsgStore_WriteAccountData(nullptr, &a.props, a.id);
  EmailMsgStore_Close(nullptr);
  Seed({"email_accounts"}, "accounts", host);
  msgstore::email::UnloadAccounts();
}

}  // namespace

int main(int argc, char** argv) {
  g_check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !g_check) {
    std::fprintf(stderr, "usage: %s [--check] DIR\n", argv[0]);
    return 2;
  }
  g_dir = argv[argc - 1];
  UseScratchRoot("seeds");
  StoreSeeds();
  PlatformSeeds();
  AccountSeeds();
  if (g_check) std::printf("seed corpus: %d checked, %d differ\n", g_checked, g_differ);
  return g_differ == 0 ? 0 : 1;
}
