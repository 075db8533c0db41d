// EMS message files: the current layout (leading-part length, header, strings
// with pszText2, tail, content) under "MUTEX_READWRITETILE", the quick read
// that repairs the phone index, and the old layout without pszText2, which
// takes no lock.
//
// Readers parse only the bytes read. A string, cbData or content that runs
// past the end of the file fails the read; what was assigned before stays
// owned by the record and is released with EMSMsgStore_FreeMsgProps.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/field_codec.h"
#include "common/msg_file.h"
#include "common/msg_props.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "common/whole_file.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::FieldReader;
using msgstore::FieldWriter;

// Current readers reject files of this many bytes or fewer.
constexpr DWORD kMinCurrentFile = 32;
// The old reader accepts any file that is not empty.
constexpr DWORD kMinOldFile = 0;

using msgstore::ReplacingStream;

// The fields that follow pszText2 in the current layout, up to pszMsgID.
void WriteCurrentBody(FieldWriter& w, const tagMSGPROPS& p) {
  w.String(p.pszText1);
  w.String(p.pszTo);
  w.String(p.pszText3);
  w.String(p.pszText4);
  w.FileTime(p.ftTime);
  w.U32(p.dwUser1);
  w.U32(p.dwUser2);
  w.String(p.pszMsgID);
}

// The tail shared by both layouts.
void WriteTail(FieldWriter& w, const tagMSGPROPS& p) {
  w.U16(p.wUser1);
  w.U16(p.wUser2);
  w.U32(p.dwUser3);
  w.U32(p.cbData);
  w.Bytes(p.pData, p.cbData);
}

// Current layout after the leading-part length, up to pszMsgID: what the
// quick read fills.
bool ReadCurrentHead(FieldReader& r, tagMSGPROPS* p) {
  return r.U32(&p->dwOid) && r.I32(&p->bRead) && r.U16(&p->wStatus) &&
         r.FileTime(&p->ftIndexTime) && r.U32(&p->dwFolder) && r.String(&p->pszSubject) &&
         r.String(&p->pszText2) && r.String(&p->pszText1) && r.String(&p->pszTo) &&
         r.String(&p->pszText3) && r.String(&p->pszText4) && r.FileTime(&p->ftTime) &&
         r.U32(&p->dwUser1) && r.U32(&p->dwUser2) && r.String(&p->pszMsgID);
}

// wUser1, wUser2, dwUser3, then cbData and the content, or no content.
bool ReadTail(FieldReader& r, tagMSGPROPS* p, bool withContent) {
  if (!(r.U16(&p->wUser1) && r.U16(&p->wUser2) && r.U32(&p->dwUser3))) return false;
  if (withContent) return r.Content(&p->cbData, &p->pData);
  free(p->pData);
  p->pData = nullptr;
  p->cbData = 0;
  return true;
}

bool ReadCurrent(const std::vector<uint8_t>& file, tagMSGPROPS* props, bool withContent) {
  FieldReader r(file.data(), file.size());
  return r.Skip(4) && ReadCurrentHead(r, props) && ReadTail(r, props, withContent);
}

bool ReadOld(const std::vector<uint8_t>& file, tagMSGPROPS* p, bool withContent) {
  FieldReader r(file.data(), file.size());
  return r.I32(&p->bRead) && r.U32(&p->dwUser1) && r.String(&p->pszText1) &&
         r.FileTime(&p->ftIndexTime) && r.FileTime(&p->ftTime) && r.String(&p->pszTo) &&
         r.String(&p->pszText3) && r.String(&p->pszText4) && r.String(&p->pszSubject) &&
         r.U32(&p->dwFolder) && r.U16(&p->wStatus) && r.U32(&p->dwOid) && r.U32(&p->dwUser2) &&
         r.String(&p->pszMsgID) && ReadTail(r, p, withContent);
}

}  // namespace

void EMSMsgStore_FreeMsgProps(tagMSGPROPS* props) {
  if (props != nullptr) msgstore::ReleaseMsgProps(props);
}

int EMSMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::ems::kFileMutex, true);
  ReplacingStream stream(path);
  if (!stream) return 0;
  const tagMSGPROPS& p = *props;
  FieldWriter w(stream.get());
  long leadingLength = w.Placeholder();
  w.U32(p.dwOid);
  w.U32(static_cast<DWORD>(p.bRead));
  w.U16(p.wStatus);
  w.FileTime(p.ftIndexTime);
  w.U32(p.dwFolder);
  w.String(p.pszSubject);
  w.String(p.pszText2);
  w.PatchHere(leadingLength);
  WriteCurrentBody(w, p);
  WriteTail(w, p);
  return 1;
}

int EMSMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* props, bool bWithContent) {
  if (props == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::ems::kFileMutex, true);
  std::vector<uint8_t> file;
  if (msgstore::ReadWholeFile(path, kMinCurrentFile, &file) != msgstore::ReadResult::kOk) return 0;
  return ReadCurrent(file, props, bWithContent) ? 1 : 0;
}

int EMSMsgStore_QuickReadFromFile(bool bMemoryCard, DWORD folder, DWORD oid, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  WCHAR path[MAX_PATH];
  if (!EMSMsgStore_GetFilePath(bMemoryCard, oid, folder, path)) return 0;
  std::vector<uint8_t> file;
  msgstore::ReadResult read = msgstore::ReadWholeFile(path, kMinCurrentFile, &file);
  if (read == msgstore::ReadResult::kOpenFailed && !bMemoryCard) {
    // The index still lists a file that has gone: drop its record.
    EMSMsgStore_DeleteMsgFromIni(oid, folder);
  }
  if (read != msgstore::ReadResult::kOk) return 0;
  FieldReader r(file.data(), file.size());
  return r.Skip(4) && ReadCurrentHead(r, props) ? 1 : 0;
}

int EMSMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  ReplacingStream stream(path);
  if (!stream) return 0;
  const tagMSGPROPS& p = *props;
  FieldWriter w(stream.get());
  w.U32(static_cast<DWORD>(p.bRead));
  w.U32(p.dwUser1);
  w.String(p.pszText1);
  w.FileTime(p.ftIndexTime);
  w.FileTime(p.ftTime);
  w.String(p.pszTo);
  w.String(p.pszText3);
  w.String(p.pszText4);
  w.String(p.pszSubject);
  w.U32(p.dwFolder);
  w.U16(p.wStatus);
  w.U32(p.dwOid);
  w.U32(p.dwUser2);
  w.String(p.pszMsgID);
  WriteTail(w, p);
  return 1;
}

int EMSMsgStore_ReadFromFileOld(WCHAR* path, tagMSGPROPS* props, bool bWithContent) {
  if (props == nullptr) return 0;
  std::vector<uint8_t> file;
  if (msgstore::ReadWholeFile(path, kMinOldFile, &file) != msgstore::ReadResult::kOk) return 0;
  return ReadOld(file, props, bWithContent) ? 1 : 0;
}
