// Writing a host's CString as CString itself does, through its header and
// its own string manager (ATL's CSimpleStringT rules).
#include "atl_string.h"

namespace ATL {

template <>
CStringT<char, StrTraitMFC_DLL<char>>::~CStringT() {
  ovrin_vc::Release(ovrin_vc::DataOf(*this));
}

}  // namespace ATL

namespace ovrin_vc {
namespace {

void CopyBytes(char* to, const char* from, int count) {
  for (int i = 0; i < count; ++i) to[i] = from[i];
}

// A buffer of its own for `text`, of at least `length` characters, keeping
// what it holds: a copy when it is shared, a larger block when it is short.
// Grows by half again, as CString does, so that appending stays cheap.
bool PrepareWrite(CString& text, int length) {
  ATL::CStringData* old = DataOf(text);
  const bool shared = old->nRefs > 1;
  if (!shared && old->nAllocLength >= length) return true;
  if (old->nDataLength > length) length = old->nDataLength;
  if (shared) {
    ATL::CStringData* fresh = old->pStringMgr->Clone()->Allocate(length, 1);
    if (fresh == nullptr) return false;
    const int kept = old->nDataLength < length ? old->nDataLength : length;
    CopyBytes(fresh->data(), old->data(), kept + 1);  // the NUL too
    fresh->nDataLength = old->nDataLength;
    Release(old);
    text.m_pszData = fresh->data();
    return true;
  }
  int grown = old->nAllocLength < (1 << 30) ? old->nAllocLength + old->nAllocLength / 2 : old->nAllocLength + (1 << 20);
  if (grown < length) grown = length;
  ATL::CStringData* fresh = old->pStringMgr->Reallocate(old, grown, 1);
  if (fresh == nullptr) return false;
  text.m_pszData = fresh->data();
  return true;
}

}  // namespace

void Release(ATL::CStringData* data) {
  if (__atomic_sub_fetch(&data->nRefs, 1, __ATOMIC_SEQ_CST) <= 0) data->pStringMgr->Free(data);
}

bool Assign(CString& text, const char* bytes, int length) {
  ATL::CStringData* old = DataOf(text);
  if (length == 0) {
    if (old->nDataLength == 0) return true;
    if (old->nRefs < 0) {  // locked: emptied in place
      old->nDataLength = 0;
      text.m_pszData[0] = '\0';
      return true;
    }
    ATL::IAtlStringMgr* manager = old->pStringMgr;  // before the release may free old
    Release(old);
    text.m_pszData = manager->GetNilString()->data();
    return true;
  }
  if (!PrepareWrite(text, length)) return false;
  CopyBytes(text.m_pszData, bytes, length);
  DataOf(text)->nDataLength = length;
  text.m_pszData[length] = '\0';
  return true;
}

}  // namespace ovrin_vc
