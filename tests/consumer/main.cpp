// Uses an installed msgstore: stores one message and reads it back.
#include <msgstore/msgstore.h>

#include <cstdio>
#include <cstring>

int main() {
  EMSMsgStore_CreateDir(false);
  tagMSGPROPS props;
  std::memset(&props, 0, sizeof props);
  WCHAR subject[] = u"hello";
  props.dwFolder = EMS_FOLDER_DRAFT;
  props.pszSubject = subject;
  DWORD oid = EMSMsgStore_WriteMessage(false, &props, 0, nullptr);
  tagMSGPROPS back;
  std::memset(&back, 0, sizeof back);
  int ok = oid != 0 && EMSMsgStore_ReadMessage(false, oid, true, &back);
  ok = ok && back.pszSubject && std::char_traits<WCHAR>::compare(back.pszSubject, subject, 6) == 0;
  EMSMsgStore_FreeMsgProps(&back);
  std::printf("consumer: stored and read message %u: %s\n", oid, ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
