#include "commands.h"

#include <algorithm>

#include "output.h"

namespace tool {

void OpenDevice(Context* ctx, bool create, const std::string& next) {
  if (ctx->root.empty()) ctx->root = msgstore::Device::DefaultRoot();
  if (ctx->root.empty()) throw UsageError("no device root: give --root DIR or set MSGSTORE_ROOT");
  msgstore::Result opened;
  ctx->device = create ? msgstore::Device::Open(ctx->root, true, &opened)
                       : msgstore::Device::OpenExisting(ctx->root, &opened);
  // Like a repository that is not there: the next step is to make it.
  if (opened.status == msgstore::Status::kNotFound)
    throw Failure(
        opened.error.substr(0, opened.error.find(" (")) + " (" +
        (next.empty() ? "run 'msgstore init' to make a device there, or give --root" : next) + ")");
  Require(opened);
}

void Require(const msgstore::Result& result, DWORD account) {
  if (result) return;
  if (account != 0 && result.error == "no account " + std::to_string(account))
    throw Failure(result.error + " (see 'msgstore account ls')");
  throw Failure(result.error);
}

const StoreDescription& ParseStore(const std::string& name) {
  const StoreDescription* s = msgstore::StoreNamed(name);
  if (s == nullptr) throw UsageError("unknown store '" + name + "' (stores: " + StoreNames() + ")");
  return *s;
}

std::string StoreNames() {
  std::string names;
  for (const StoreDescription* s : Stores())
    names += (names.empty() ? "" : ", ") + std::string(s->name);
  return names;
}

std::string CommandLine(const StoreDescription& s, const std::string& command,
                        const std::string& rest) {
  return "msgstore " + command + " " + std::string(s.name) + (rest.empty() ? "" : " " + rest);
}

std::string FolderName(const StoreDescription& s, DWORD folder) {
  const FolderDescription* f = s.Folder(folder);
  return f != nullptr ? f->name : std::to_string(folder);
}

std::string FolderNames(const StoreDescription& s) {
  std::string names;
  for (DWORD number : s.shown) names += (names.empty() ? "" : ", ") + FolderName(s, number);
  return names;
}

DWORD ParseFolder(const StoreDescription& s, const std::string& text) {
  const FolderDescription* named = s.FolderNamed(text);
  if (named != nullptr) return named->number;
  uint64_t number = 0;
  if (ParseUnsigned(text, 0xFFFFFFFFu, &number) && s.Folder(static_cast<DWORD>(number)) != nullptr)
    return static_cast<DWORD>(number);
  // The numbers, three or more in a row as a range: "1-8, 12, 13".
  std::vector<DWORD> ids;
  for (const FolderDescription& f : s) ids.push_back(f.number);
  std::sort(ids.begin(), ids.end());
  std::string numbers;
  for (size_t i = 0; i < ids.size(); ++i) {
    size_t j = i;
    while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(ids[i]);
    if (j >= i + 2) i = j, numbers += "-" + std::to_string(ids[j]);
  }
  throw UsageError("unknown folder '" + text + "' (folders: " + FolderNames(s) +
                   ", or their numbers " + numbers + ")");
}

const char* StorageKey(bool card) { return card ? "card" : "phone"; }
const char* StorageName(bool card) { return card ? "memory card" : "phone memory"; }

std::string Where(const StoreDescription& s, bool card, DWORD folder) {
  return std::string(StorageKey(card)) + " " + FolderName(s, folder);
}

std::string What(const StoreDescription& s, const Location& at) {
  return "message " + std::to_string(at.id) + " in " + Where(s, at.card, at.folder);
}

const StoreDescription& StoreWithAccounts() {
  for (const StoreDescription* s : Stores())
    if (s->HasAccounts()) return *s;
  throw Failure("no store keeps messages by account");
}

std::string NotInRange(int64_t min, uint64_t max) {
  return " is not a number from " + std::to_string(min) + " to " + std::to_string(max);
}

int64_t ParseNumber(const std::string& what, const std::string& text, uint64_t max, int64_t min) {
  const bool negative = min < 0 && !text.empty() && text[0] == '-';
  uint64_t magnitude = 0;
  if (!ParseUnsigned(text.substr(negative ? 1 : 0), negative ? -static_cast<uint64_t>(min) : max,
                     &magnitude))
    throw UsageError(what + " '" + text + "'" + NotInRange(min, max));
  return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

DWORD ResolveAccount(Context& ctx, const std::string& text) {
  uint64_t number = 0;
  if (ParseUnsigned(text, 0xFFFFFFFFu, &number) && number != 0 &&
      ctx.accounts().Get(static_cast<DWORD>(number)))
    return static_cast<DWORD>(number);
  const msgstore::AccountListResult all = Required(ctx.accounts().List());
  std::vector<DWORD> named;
  for (const msgstore::Account& a : all.accounts)
    if (a.text == Utf8ToUtf16(text)) named.push_back(a.id);
  std::sort(named.begin(), named.end());
  if (named.size() == 1) return named.front();
  if (named.empty())
    throw Failure("no account " + (number != 0 ? text : "named '" + text + "'") +
                  " (see 'msgstore account ls')");
  throw Failure("account name '" + text + "' is ambiguous: accounts " + JoinList(named) +
                " have it (give the identifier)");
}

void RequireCard(Context& ctx) {
  if (!ctx.device->CardInserted())
    throw Failure("no memory card is inserted (see 'msgstore card insert')");
}

}  // namespace tool
