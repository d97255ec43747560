// MFC's CString as a Visual C++ 7.0 host passes it, from ATL's published
// layout (no MFC or ATL header is used). The object is one pointer to its
// characters; a CStringData header stands just before them, naming the
// string manager that allocated the block. Compiled for Visual C++'s ABI only.
#pragma once

namespace ATL {

struct CStringData;

// The string manager; its slots in ATL's order.
class IAtlStringMgr {
 public:
  virtual CStringData* Allocate(int nAllocLength, int nCharSize) = 0;
  virtual void Free(CStringData* pData) = 0;
  virtual CStringData* Reallocate(CStringData* pData, int nAllocLength, int nCharSize) = 0;
  virtual CStringData* GetNilString() = 0;
  virtual IAtlStringMgr* Clone() = 0;
};

struct CStringData {
  IAtlStringMgr* pStringMgr;
  int nDataLength;   // characters used, without the terminating NUL
  int nAllocLength;  // characters allocated, without the terminating NUL
  long nRefs;        // above 1: shared, never written; below 0: locked
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

template <typename BaseType>
class ChTraitsCRT {};

}  // namespace ATL

template <typename BaseType, class StringTraits = ATL::ChTraitsCRT<BaseType>>
class StrTraitMFC_DLL {};

namespace ATL {

template <typename BaseType, class StringTraits>
class CStringT {
 public:
  // Declared as CString has it, so that it is passed as CString is; the
  // library never copies a string, and so never defines it.
  CStringT(const CStringT& other);
  // What Visual C++ has the callee do with an argument passed by value.
  ~CStringT();

  BaseType* m_pszData;
};

}  // namespace ATL

// The string of the exported signatures: MFC's, with MFC used as a DLL.
typedef ATL::CStringT<char, StrTraitMFC_DLL<char>> CString;

namespace ovrin_vc {

inline ATL::CStringData* DataOf(const CString& text) { return reinterpret_cast<ATL::CStringData*>(text.m_pszData) - 1; }

// Drops one reference; the last gives the block back to its manager.
void Release(ATL::CStringData* data);

// Gives `text` the `length` bytes at `bytes`, as CString's assignment does:
// a shared buffer is never written (a new one comes from the string's own
// manager), a short one grows through it, a locked one is written in place,
// and an empty result is the manager's nil string. False, with `text`
// unchanged, when the manager has no memory.
bool Assign(CString& text, const char* bytes, int length);

}  // namespace ovrin_vc
