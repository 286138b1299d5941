#include <comhost/testing.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>
#include <thread>

#include "test_objects.h"

namespace {

using oleaut_test::CountedErrorInfo;
using oleaut_test::ScopedBstr;

std::u16string Text(BSTR s) { return std::u16string(s, SysStringLen(s)); }

const GUID kSomeInterface = {0x0000050E, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

class ErrorInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { SetErrorInfo(0, nullptr); }
  void TearDown() override {
    ComHostFailAllocation(0);
    SetErrorInfo(0, nullptr);
  }
};

TEST_F(ErrorInfoTest, CreatedObjectCarriesWhatWasSet) {
  ICreateErrorInfo *create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  ASSERT_EQ(create->SetGUID(kSomeInterface), S_OK);
  ASSERT_EQ(create->SetSource(const_cast<LPOLESTR>(OLESTR("ADODB.Recordset"))), S_OK);
  ASSERT_EQ(create->SetDescription(const_cast<LPOLESTR>(OLESTR("Item cannot be found."))), S_OK);
  ASSERT_EQ(create->SetHelpContext(1240655), S_OK);

  IErrorInfo *info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)), S_OK);
  GUID guid = {};
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_TRUE(IsEqualGUID(guid, kSomeInterface));
  ScopedBstr source, description, help_file;
  ASSERT_EQ(info->GetSource(source.receive()), S_OK);
  EXPECT_EQ(Text(source), u"ADODB.Recordset");
  ASSERT_EQ(info->GetDescription(description.receive()), S_OK);
  EXPECT_EQ(Text(description), u"Item cannot be found.");
  ASSERT_EQ(info->GetHelpFile(help_file.receive()), S_OK);
  EXPECT_EQ(help_file.get(), nullptr);  // never set
  DWORD context = 0;
  ASSERT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 1240655u);

  // Each call hands out a fresh copy.
  ScopedBstr again;
  ASSERT_EQ(info->GetDescription(again.receive()), S_OK);
  EXPECT_NE(again.get(), description.get());
  EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);

  EXPECT_EQ(info->Release(), 1u);
  EXPECT_EQ(create->Release(), 0u);
}

TEST_F(ErrorInfoTest, IdentityAndUnknownInterfaces) {
  ICreateErrorInfo *create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  IErrorInfo *info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)), S_OK);
  IUnknown *u1 = nullptr;
  IUnknown *u2 = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&u1)), S_OK);
  ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&u2)), S_OK);
  EXPECT_EQ(u1, u2);
  ICreateErrorInfo *back = nullptr;
  ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void **>(&back)), S_OK);
  EXPECT_EQ(back, create);
  void *other = reinterpret_cast<void *>(1);
  EXPECT_EQ(info->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  back->Release();
  u1->Release();
  u2->Release();
  info->Release();
  EXPECT_EQ(create->Release(), 0u);
}

TEST_F(ErrorInfoTest, SetTakesAReferenceAndGetHandsItOver) {
  CountedErrorInfo info;
  ASSERT_EQ(SetErrorInfo(0, &info), S_OK);
  EXPECT_EQ(info.refs(), 2u);
  IErrorInfo *taken = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
  EXPECT_EQ(taken, &info);
  EXPECT_EQ(info.refs(), 2u);  // the thread's reference now belongs to the caller
  taken->Release();

  // The slot is empty afterwards.
  taken = reinterpret_cast<IErrorInfo *>(1);
  EXPECT_EQ(GetErrorInfo(0, &taken), S_FALSE);
  EXPECT_EQ(taken, nullptr);
  EXPECT_EQ(info.refs(), 1u);
}

TEST_F(ErrorInfoTest, SettingAgainReleasesThePrevious) {
  CountedErrorInfo first, second;
  ASSERT_EQ(SetErrorInfo(0, &first), S_OK);
  ASSERT_EQ(SetErrorInfo(0, &second), S_OK);
  EXPECT_EQ(first.refs(), 1u);
  EXPECT_EQ(second.refs(), 2u);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(second.refs(), 1u);
  IErrorInfo *taken = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &taken), S_FALSE);
}

TEST_F(ErrorInfoTest, ReservedArgumentsAreChecked) {
  CountedErrorInfo info;
  EXPECT_EQ(SetErrorInfo(1, &info), E_INVALIDARG);
  EXPECT_EQ(info.refs(), 1u);
  IErrorInfo *taken = nullptr;
  EXPECT_EQ(GetErrorInfo(1, &taken), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST_F(ErrorInfoTest, EachThreadHasItsOwnSlot) {
  CountedErrorInfo mine, theirs;
  ASSERT_EQ(SetErrorInfo(0, &mine), S_OK);
  HRESULT seen_by_other = E_FAIL;
  std::thread other([&] {
    IErrorInfo *taken = nullptr;
    seen_by_other = GetErrorInfo(0, &taken);
    SetErrorInfo(0, &theirs);  // left pending when the thread ends
  });
  other.join();
  EXPECT_EQ(seen_by_other, S_FALSE);
  EXPECT_EQ(theirs.refs(), 1u);  // released at thread exit
  EXPECT_TRUE(!theirs.destroyed());
  IErrorInfo *taken = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
  EXPECT_EQ(taken, &mine);
  taken->Release();
}

TEST_F(ErrorInfoTest, PendingObjectIsDestroyedWithItsThread) {
  bool destroyed = false;
  std::thread worker([&] {
    ICreateErrorInfo *create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo *info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info));
    create->Release();
    SetErrorInfo(0, info);
    destroyed = info->Release() == 0;  // the slot still holds one reference
  });
  worker.join();
  EXPECT_FALSE(destroyed);  // the sanitizer reports a leak if exit did not release it
}

TEST_F(ErrorInfoTest, OutOfMemory) {
  ICreateErrorInfo *create = reinterpret_cast<ICreateErrorInfo *>(1);
  ComHostFailAllocation(1);
  EXPECT_EQ(CreateErrorInfo(&create), E_OUTOFMEMORY);
  EXPECT_EQ(create, nullptr);

  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  ASSERT_EQ(create->SetDescription(const_cast<LPOLESTR>(OLESTR("kept"))), S_OK);
  ComHostFailAllocation(1);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(OLESTR("lost"))), E_OUTOFMEMORY);
  IErrorInfo *info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info));
  ScopedBstr description;
  ComHostFailAllocation(1);
  EXPECT_EQ(info->GetDescription(description.receive()), E_OUTOFMEMORY);
  EXPECT_EQ(description.get(), nullptr);
  ASSERT_EQ(info->GetDescription(description.receive()), S_OK);
  EXPECT_EQ(Text(description), u"kept");
  info->Release();
  create->Release();
}

}  // namespace
