// Looking stores and folders up in their descriptions.
#include "msgstore/stores.h"

#include <cctype>

namespace msgstore {
namespace {

// "SIM_Inbox" -> "sim-inbox"
std::string FolderKey(std::string name) {
  for (char& c : name)
    c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

const FolderDescription* StoreDescription::Folder(DWORD number) const {
  for (const FolderDescription& f : *this)
    if (f.number == number) return &f;
  return nullptr;
}

const FolderDescription* StoreDescription::FolderNamed(const std::string& name) const {
  const std::string key = FolderKey(name);
  for (const FolderDescription& f : *this)
    if (key == f.name) return &f;
  return nullptr;
}

bool StoreDescription::HasAccounts() const { return AccountFolder() != nullptr; }

const FolderDescription* StoreDescription::AccountFolder() const {
  for (const FolderDescription& f : *this)
    if (f.perAccount) return &f;
  return nullptr;
}

std::vector<std::string> StoreDescription::IndexesRefreshed(bool always) const {
  std::vector<std::string> names;
  for (const FolderDescription& f : *this)
    if (f.indexFolder == f.number && !f.perAccount && f.rebuiltAlways == always)
      names.push_back(f.name);
  return names;
}

const std::vector<const StoreDescription*>& Stores() {
  static const std::vector<const StoreDescription*> kStores = {&SmsStore(), &MmsStore(),
                                                               &EmailStore()};
  return kStores;
}

const StoreDescription& Describe(StoreKind kind) {
  for (const StoreDescription* s : Stores())
    if (s->kind == kind) return *s;
  return SmsStore();
}

const StoreDescription* StoreNamed(const std::string& name) {
  for (const StoreDescription* s : Stores())
    if (name == s->name) return s;
  return nullptr;
}

int CardUnusable() {
  int bits = 0;
  for (const StoreDescription* s : Stores()) bits |= s->cardUnusable;
  return bits;
}

}  // namespace msgstore
