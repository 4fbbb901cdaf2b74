// ConvertGSToLB's call order against a recording fake component, and end to
// end through the real one.
#include <cmath>
#include <functional>
#include <string>

#include "BaseParser.h"
#include "TestSupport.h"
#include "platform/ComObject.h"
#include "platform/CoordSys.h"

// The one test-access class of this suite: sets the coordinate-system text
// that GenNeededFile would store.
class CBaseParserTestAccess {
 public:
  static void SetCrsText(CBaseParser& p, const wchar_t* t) { p.m_coordSysText = t; }
};

namespace {

// What the fake component saw, across objects.
struct Record {
  int coordSysCreated = 0;
  int converterCreated = 0;
  int setDefinition = 0;
  int conversions = 0;
  std::wstring projectionName;
  bool offerProjection = true;
};
Record g_record;

class FakeCoordSys final : public ICoordSysDef, public ICoordSysProj {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_ICoordSysDef) {
      *ppv = static_cast<ICoordSysDef*>(this);
    } else if (riid == IID_ICoordSysProj && g_record.offerProjection) {
      *ppv = static_cast<ICoordSysProj*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT SetDefinition(BSTR text) override {
    ++g_record.setDefinition;
    text_ = text ? text : L"";
    return S_OK;
  }
  HRESULT GetDefinition(BSTR* text) override {
    *text = SysAllocString(text_.c_str());
    return S_OK;
  }
  HRESULT GetProjectionName(BSTR* name) override {
    *name = SysAllocString(g_record.projectionName.c_str());
    return S_OK;
  }

 private:
  ~FakeCoordSys() = default;
  ULONG refs_ = 0;
  std::wstring text_ = L"initial";
};

class FakeConverter final : public kmztile::platform::ComObject<IGridConverter, IID_IGridConverter> {
 public:
  HRESULT GridToLonLat(ICoordSysProj* projection, double x, double y, double* lon, double* lat,
                       std::int32_t* status) override {
    ++g_record.conversions;
    EXPECT_NE(projection, nullptr);
    *lon = x / 1000;
    *lat = y / 1000;
    *status = 0;
    return S_OK;
  }
};

HRESULT MakeFakeCoordSys(IUnknown** out) {
  ++g_record.coordSysCreated;
  auto* object = new FakeCoordSys();  // owned by its reference count
  return object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}
HRESULT MakeFakeConverter(IUnknown** out) {
  ++g_record.converterCreated;
  auto* object = new FakeConverter();  // owned by its reference count
  return object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}

class ConvertWithFake : public ::testing::Test {
 protected:
  void SetUp() override {
    kmztile::platform::EnsureCoordSysComponentRegistered();
    g_record = Record();
    g_record.projectionName = kmztile::platform::kGaussKrugerName;
    CoRegisterClassFactory(CLSID_CoordSys, &MakeFakeCoordSys);
    CoRegisterClassFactory(CLSID_GridConverter, &MakeFakeConverter);
  }
  void TearDown() override {
    { CBaseParser drop; }  // release the fakes held by the shared pointers
    kmztile::platform::RegisterCoordSysComponent();
  }
};

}  // namespace

TEST_F(ConvertWithFake, DefinitionIsAppliedOnlyWhenItChanges) {
  CBaseParser parser;
  CBaseParserTestAccess::SetCrsText(parser, L"EPSG:4527");
  double lon = 0, lat = 0;
  parser.ConvertGSToLB(39443000, 4418000, lon, lat);
  parser.ConvertGSToLB(39443001, 4418001, lon, lat);
  EXPECT_EQ(g_record.coordSysCreated, 1);
  EXPECT_EQ(g_record.setDefinition, 1);
  EXPECT_EQ(g_record.converterCreated, 1);
  EXPECT_EQ(g_record.conversions, 2);
  EXPECT_DOUBLE_EQ(lon, 39443.001);
  EXPECT_DOUBLE_EQ(lat, 4418.001);

  // Another parser object created (or destroyed) drops both components: the
  // next conversion creates them again and applies the definition again.
  { CBaseParser other; }
  parser.ConvertGSToLB(39443000, 4418000, lon, lat);
  EXPECT_EQ(g_record.coordSysCreated, 2);
  EXPECT_EQ(g_record.setDefinition, 2);
  EXPECT_EQ(g_record.converterCreated, 2);

  // Making a copy leaves them alone.
  const CBaseParser copy(parser);
  parser.ConvertGSToLB(39443000, 4418000, lon, lat);
  EXPECT_EQ(g_record.coordSysCreated, 2);
  EXPECT_EQ(g_record.setDefinition, 2);
}

TEST_F(ConvertWithFake, OtherProjectionNamesPassThroughWithoutConverter) {
  CBaseParser parser;
  for (const wchar_t* name : {L"Gauss-Kruger (", L"Gauss-Kruger (\u9AD8\u65AF-\u514B\u91CC\u683C\u6295\u5F71)",
                              L"Transverse Mercator", L""}) {
    g_record.projectionName = name;
    double lon = 0, lat = 0;
    parser.ConvertGSToLB(500123.5, 4400000.25, lon, lat);
    EXPECT_EQ(lon, 500123.5);
    EXPECT_EQ(lat, 4400000.25);
  }
  EXPECT_EQ(g_record.converterCreated, 0);
  EXPECT_EQ(g_record.conversions, 0);
  // The empty text of a new parser is compared with the object's "initial" once.
  EXPECT_EQ(g_record.setDefinition, 1);
}

namespace {

// The code of the _com_error @p call throws, or S_OK when it throws none.
HRESULT ComErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const _com_error& e) {
    return e.Error();
  }
  return S_OK;
}

}  // namespace

TEST_F(ConvertWithFake, MissingClassesAndInterfacesRaiseComErrorBeforeTouchingOutputs) {
  CBaseParser parser;
  double lon = 7, lat = 8;
  CoUnregisterClassFactory(CLSID_CoordSys);
  EXPECT_EQ(ComErrorOf([&] { parser.ConvertGSToLB(39443000, 4418000, lon, lat); }), E_POINTER);
  EXPECT_EQ(lon, 7);
  EXPECT_EQ(lat, 8);

  CoRegisterClassFactory(CLSID_CoordSys, &MakeFakeCoordSys);
  g_record.offerProjection = false;
  EXPECT_EQ(ComErrorOf([&] { parser.ConvertGSToLB(39443000, 4418000, lon, lat); }), E_POINTER);
  g_record.offerProjection = true;

  CoUnregisterClassFactory(CLSID_GridConverter);
  EXPECT_EQ(ComErrorOf([&] { parser.ConvertGSToLB(39443000, 4418000, lon, lat); }), E_POINTER);
  EXPECT_EQ(lon, 7);
  EXPECT_EQ(lat, 8);
}

TEST(ConvertGSToLB, RealComponentConvertsGaussKrugerAndPassesOthersThrough) {
  CBaseParser parser;
  CBaseParserTestAccess::SetCrsText(parser, L"EPSG:4527");
  double lon = 0, lat = 0;
  parser.ConvertGSToLB(39443000, 4418000, lon, lat);
  EXPECT_NEAR(lon, 116.33353433, 5e-9);
  EXPECT_NEAR(lat, 39.89425132, 5e-9);
  CBaseParserTestAccess::SetCrsText(parser, L"EPSG:3857");
  parser.ConvertGSToLB(39443000, 4418000, lon, lat);
  EXPECT_EQ(lon, 39443000);
  EXPECT_EQ(lat, 4418000);
}
