// A look-alike of the binary shape of ATL's CString and MFC's CFont, written from their
// published layout, for the Microsoft-ABI reference libraries:
// - a CString is one pointer to its characters, which follow a CStringData header (the string
//   manager, the length in use, the length allocated, a reference count);
// - the string manager (IAtlStringMgr) is an object whose method table holds Allocate, Free,
//   Reallocate, GetNilString and Clone in this order; every change of a string goes through the
//   manager named in its header, so a string assigned to by another module stays in the memory
//   of the module that made it;
// - a CFont is an object with a virtual table pointer followed by its font handle.
// Class and template names are those of ATL and MFC, so that the exported functions carry the
// same decorated names as in a player built with them. It stands where afx.h and afxwin.h stand
// in an MFC project (and defines their include guards), so that cadenza_common.h, included after
// it, declares the Microsoft form: CStringW and CFont*.
#pragma once
#include <windows.h>
#define __AFX_H__
#define __AFXSTR_H__
#define __AFXWIN_H__

namespace ATL {

struct CStringData;

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
  int nDataLength;   // characters in use, without the terminating null
  int nAllocLength;  // characters allocated, without the terminating null
  long nRefs;        // shared above 1, locked when negative

  void* data() { return this + 1; }
  void AddRef() { __atomic_add_fetch(&nRefs, 1, __ATOMIC_SEQ_CST); }
  bool IsLocked() const { return nRefs < 0; }
  bool IsShared() const { return nRefs > 1; }
  void Release() {
    if (__atomic_sub_fetch(&nRefs, 1, __ATOMIC_SEQ_CST) <= 0) pStringMgr->Free(this);
  }
};

// A manager's empty string: its count starts at 2, so releasing what GetNilString handed out
// never frees it.
struct CNilStringData : CStringData {
  constexpr explicit CNilStringData(IAtlStringMgr* manager)
      : CStringData{manager, 0, 0, 2}, achNil{0, 0} {}
  wchar_t achNil[2];
};

template <typename T>
class ChTraitsCRT {};

template <typename BaseType>
class CSimpleStringT {
 public:
  explicit CSimpleStringT(IAtlStringMgr* manager) { Attach(manager->GetNilString()); }
  CSimpleStringT(const CSimpleStringT& source) { Attach(CloneData(source.GetData())); }
  CSimpleStringT& operator=(const CSimpleStringT& source) {
    CStringData* data = CloneData(source.GetData());
    GetData()->Release();
    Attach(data);
    return *this;
  }
  ~CSimpleStringT() { GetData()->Release(); }

  int GetLength() const { return GetData()->nDataLength; }
  const BaseType* GetString() const { return m_pszData; }
  IAtlStringMgr* GetManager() const { return GetData()->pStringMgr; }

  // A writable buffer of at least nMinLength characters; null when the manager has no memory
  // (the component never sees an exception from here).
  BaseType* GetBuffer(int nMinLength) { return PrepareWrite(nMinLength) ? m_pszData : nullptr; }
  void ReleaseBuffer(int nNewLength) {
    GetData()->nDataLength = nNewLength;
    m_pszData[nNewLength] = 0;
  }
  bool SetString(const BaseType* text, int nLength) {
    BaseType* buffer = GetBuffer(nLength);
    if (buffer == nullptr) return false;
    for (int i = 0; i < nLength; ++i) buffer[i] = text[i];
    ReleaseBuffer(nLength);
    return true;
  }
  void Truncate(int nNewLength) {
    if (nNewLength < GetLength() && GetBuffer(nNewLength) != nullptr) ReleaseBuffer(nNewLength);
  }

 private:
  CStringData* GetData() const { return reinterpret_cast<CStringData*>(m_pszData) - 1; }
  void Attach(CStringData* data) { m_pszData = static_cast<BaseType*>(data->data()); }

  // A copy shares the data, unless it is locked: then it gets data of its own from the same
  // manager (or the manager's empty string when that has no memory).
  static CStringData* CloneData(CStringData* data) {
    if (!data->IsLocked()) {
      data->AddRef();
      return data;
    }
    IAtlStringMgr* manager = data->pStringMgr->Clone();
    CStringData* copy = manager->Allocate(data->nDataLength, sizeof(BaseType));
    if (copy == nullptr) return manager->GetNilString();
    Copy(static_cast<BaseType*>(copy->data()), static_cast<const BaseType*>(data->data()), data->nDataLength + 1);
    copy->nDataLength = data->nDataLength;
    return copy;
  }

  bool PrepareWrite(int nLength) {
    CStringData* old = GetData();
    const int nShared = 1 - old->nRefs;
    const int nTooShort = old->nAllocLength - nLength;
    return (nShared | nTooShort) >= 0 || PrepareWrite2(nLength);
  }
  bool PrepareWrite2(int nLength) {
    CStringData* old = GetData();
    if (old->nDataLength > nLength) nLength = old->nDataLength;
    if (old->IsShared()) return Fork(nLength);
    if (old->nAllocLength < nLength) {
      int nNewLength = old->nAllocLength + old->nAllocLength / 2;  // grow by half, at least to nLength
      if (nNewLength < nLength) nNewLength = nLength;
      CStringData* grown = old->pStringMgr->Reallocate(old, nNewLength, sizeof(BaseType));
      if (grown == nullptr) return false;
      Attach(grown);
    }
    return true;
  }
  // Shared data is never written: new data from the same manager (Clone) takes the text.
  bool Fork(int nLength) {
    CStringData* old = GetData();
    const int nOldLength = old->nDataLength;
    CStringData* data = old->pStringMgr->Clone()->Allocate(nLength, sizeof(BaseType));
    if (data == nullptr) return false;
    const int nCopy = (nOldLength < nLength ? nOldLength : nLength) + 1;
    Copy(static_cast<BaseType*>(data->data()), m_pszData, nCopy);
    data->nDataLength = nOldLength;
    old->Release();
    Attach(data);
    return true;
  }
  static void Copy(BaseType* to, const BaseType* from, int count) {
    for (int i = 0; i < count; ++i) to[i] = from[i];
  }

  BaseType* m_pszData;
};

template <typename BaseType, class StringTraits>
class CStringT : public CSimpleStringT<BaseType> {
 public:
  CStringT() : CSimpleStringT<BaseType>(StringTraits::GetDefaultManager()) {}
  CStringT(const CStringT& source) : CSimpleStringT<BaseType>(source) {}
};

}  // namespace ATL

// The string manager of the module that makes strings (MFC's own function of that name).
ATL::IAtlStringMgr* AfxGetStringManager();

// The traits of a player that uses MFC as a DLL: strings made by default take the library's
// manager.
template <typename BaseType, class StringIterator>
class StrTraitMFC_DLL : public StringIterator {
 public:
  static ATL::IAtlStringMgr* GetDefaultManager() { return AfxGetStringManager(); }
};

typedef ATL::CStringT<wchar_t, StrTraitMFC_DLL<wchar_t, ATL::ChTraitsCRT<wchar_t>>> CStringW;
typedef CStringW CString;

// MFC's object and GDI object classes, as far as their layout goes: the virtual table pointer,
// then the handle. (No virtual destructor here: the library has no C runtime to run the
// destructors of its static objects.)
struct CRuntimeClass;
class CObject {
 public:
  virtual CRuntimeClass* GetRuntimeClass() const { return nullptr; }
  virtual void Serialize(void*) {}

 protected:
  constexpr CObject() = default;
};

class CGdiObject : public CObject {
 public:
  constexpr CGdiObject() = default;
  HGDIOBJ m_hObject = nullptr;
};

class CFont : public CGdiObject {
 public:
  constexpr CFont() = default;
  BOOL CreateFontIndirect(const LOGFONTW* lpLogFont) {
    m_hObject = ::CreateFontIndirectW(lpLogFont);
    return m_hObject != nullptr;
  }
};
