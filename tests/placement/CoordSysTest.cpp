// The coordinate-system component over PROJ: definitions, projection names,
// and grid conversion checked against PROJ's own forward projection.
#include <proj.h>

#include <cmath>
#include <memory>

#include "TestSupport.h"
#include "platform/CoordSys.h"

namespace {

struct BstrFree {
  void operator()(wchar_t* s) const { SysFreeString(s); }
};
using Bstr = std::unique_ptr<wchar_t, BstrFree>;

template <typename I>
_com_ptr_t<I> Create(REFCLSID clsid, REFIID iid) {
  kmztile::platform::EnsureCoordSysComponentRegistered();
  I* raw = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(&raw)), S_OK);
  return _com_ptr_t<I>(raw, false);
}

class CoordSys : public ::testing::Test {
 protected:
  void SetUp() override {
    def_ = Create<ICoordSysDef>(CLSID_CoordSys, IID_ICoordSysDef);
    ICoordSysProj* raw = nullptr;
    ASSERT_EQ(def_->QueryInterface(IID_ICoordSysProj, reinterpret_cast<void**>(&raw)), S_OK);
    proj_ = ICoordSysProjPtr(raw, false);
    converter_ = Create<IGridConverter>(CLSID_GridConverter, IID_IGridConverter);
  }
  HRESULT Define(const wchar_t* text) {
    const Bstr b(SysAllocString(text));
    return def_->SetDefinition(b.get());
  }
  std::wstring Name() {
    BSTR name = nullptr;
    EXPECT_EQ(proj_->GetProjectionName(&name), S_OK);
    const Bstr holder(name);
    return name ? name : L"";
  }
  ICoordSysDefPtr def_;
  ICoordSysProjPtr proj_;
  IGridConverterPtr converter_;
};

// PROJ's own forward projection of (lon, lat) in the CRS @p code, easting first.
PJ_COORD Forward(const char* code, double lon, double lat) {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* crs = proj_create(ctx, code);
  PJ* geo = proj_crs_get_geodetic_crs(ctx, crs);
  PJ* raw = proj_create_crs_to_crs_from_pj(ctx, geo, crs, nullptr, nullptr);
  PJ* op = proj_normalize_for_visualization(ctx, raw);
  const PJ_COORD out = proj_trans(op, PJ_FWD, proj_coord(lon, lat, 0, 0));
  for (PJ* p : {op, raw, geo, crs}) proj_destroy(p);
  proj_context_destroy(ctx);
  return out;
}

}  // namespace

TEST_F(CoordSys, GaussKrugerNameHasTheExactCodeUnits) {
  const wchar_t expected[] = {L'G', L'a', L'u', L's', L's', L'-', L'K', L'r', L'u', L'g', L'e', L'r', L' ', L'(',
                              0x9AD8, 0x65AF, 0xFF0D, 0x514B, 0x91CC, 0x683C, 0x6295, 0x5F71, L')', 0};
  EXPECT_EQ(std::wstring(kmztile::platform::kGaussKrugerName), std::wstring(expected));
}

TEST_F(CoordSys, DefinitionIsKeptAndReportedBack) {
  BSTR text = nullptr;
  ASSERT_EQ(def_->GetDefinition(&text), S_OK);
  EXPECT_STREQ(text, L"");
  SysFreeString(text);
  EXPECT_EQ(Define(L"EPSG:4527"), S_OK);
  ASSERT_EQ(def_->GetDefinition(&text), S_OK);
  EXPECT_STREQ(text, L"EPSG:4527");
  SysFreeString(text);
  // An unparsable text is kept too, but has no projection.
  EXPECT_EQ(Define(L"not a crs"), E_INVALIDARG);
  ASSERT_EQ(def_->GetDefinition(&text), S_OK);
  EXPECT_STREQ(text, L"not a crs");
  SysFreeString(text);
  EXPECT_EQ(Name(), L"");
  EXPECT_EQ(def_->GetDefinition(nullptr), E_POINTER);
}

TEST_F(CoordSys, TransverseMercatorFamiliesAreGaussKruger) {
  const std::wstring gk = kmztile::platform::kGaussKrugerName;
  // CGCS2000 zone 39 with zone prefix, CGCS2000 CM 117E, Beijing 1954, Xian 1980.
  for (const wchar_t* code : {L"EPSG:4527", L"EPSG:4548", L"EPSG:2415", L"EPSG:2436", L"EPSG:2363", L"EPSG:2384"}) {
    EXPECT_EQ(Define(code), S_OK) << code;
    EXPECT_EQ(Name(), gk) << code;
  }
  // A PROJ string, with and without +type=crs, and a bound CRS (+towgs84).
  EXPECT_EQ(Define(L"+proj=tmerc +lat_0=0 +lon_0=117 +k=1 +x_0=500000 +y_0=0 +ellps=GRS80 +units=m +no_defs"), S_OK);
  EXPECT_EQ(Name(), gk);
  EXPECT_EQ(Define(L"+proj=tmerc +lon_0=117 +x_0=500000 +ellps=krass +towgs84=15.8,-154.4,-82.3 +type=crs"), S_OK);
  EXPECT_EQ(Name(), gk);
  // WKT as PROJ writes it for EPSG:4527.
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* crs = proj_create(ctx, "EPSG:4527");
  const std::string wkt = proj_as_wkt(ctx, crs, PJ_WKT2_2019, nullptr);
  proj_destroy(crs);
  proj_context_destroy(ctx);
  EXPECT_EQ(Define(std::wstring(wkt.begin(), wkt.end()).c_str()), S_OK);
  EXPECT_EQ(Name(), gk);
}

TEST_F(CoordSys, OtherProjectionsGiveProjsMethodNameAndGeographicNone) {
  EXPECT_EQ(Define(L"EPSG:3857"), S_OK);
  EXPECT_EQ(Name(), L"Popular Visualisation Pseudo Mercator");
  EXPECT_EQ(Define(L"EPSG:2154"), S_OK);
  EXPECT_EQ(Name(), L"Lambert Conic Conformal (2SP)");
  EXPECT_EQ(Define(L"EPSG:4490"), S_OK);  // CGCS2000 geographic
  EXPECT_EQ(Name(), L"");
  EXPECT_EQ(Define(L""), E_INVALIDARG);
  EXPECT_EQ(Name(), L"");
}

TEST_F(CoordSys, GridToLonLatMatchesTheDesignExampleAndRoundTripsWithinAMillimetre) {
  ASSERT_EQ(Define(L"EPSG:4527"), S_OK);
  double lon = 0, lat = 0;
  std::int32_t status = -1;
  ASSERT_EQ(converter_->GridToLonLat(proj_, 39443000, 4418000, &lon, &lat, &status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(lon, 116.33353433, 5e-9);
  EXPECT_NEAR(lat, 39.89425132, 5e-9);

  // Points near the central meridian (117E) of several zone systems,
  // projected by PROJ itself, come back to where they started.
  struct Case {
    const wchar_t* wide;
    const char* code;
    double lon, lat;
  };
  for (const Case& c : {Case{L"EPSG:4527", "EPSG:4527", 116.9, 39.9}, Case{L"EPSG:4548", "EPSG:4548", 117.2, 31.2},
                        Case{L"EPSG:2436", "EPSG:2436", 117.01, 40.5}, Case{L"EPSG:2384", "EPSG:2384", 116.95, 24.1}}) {
    ASSERT_EQ(Define(c.wide), S_OK);
    const PJ_COORD grid = Forward(c.code, c.lon, c.lat);
    ASSERT_EQ(converter_->GridToLonLat(proj_, grid.xy.x, grid.xy.y, &lon, &lat, &status), S_OK) << c.code;
    EXPECT_NEAR(lon, c.lon, 1e-8) << c.code;
    EXPECT_NEAR(lat, c.lat, 1e-8) << c.code;
    const PJ_COORD back = Forward(c.code, lon, lat);
    EXPECT_LT(std::hypot(back.xy.x - grid.xy.x, back.xy.y - grid.xy.y), 0.001) << c.code;
  }
}

TEST_F(CoordSys, FailedConversionIsReportedAsInfinityAndStatus) {
  ASSERT_EQ(Define(L"EPSG:4527"), S_OK);
  double lon = 1, lat = 1;
  std::int32_t status = 0;
  // Easting without its zone prefix "39": far outside the zone.
  EXPECT_EQ(converter_->GridToLonLat(proj_, 443000, 4418000, &lon, &lat, &status), E_FAIL);
  EXPECT_NE(status, 0);
  EXPECT_TRUE(std::isinf(lon));
  EXPECT_TRUE(std::isinf(lat));
  // A definition without projection converts nothing.
  ASSERT_EQ(Define(L"EPSG:4490"), S_OK);
  EXPECT_EQ(converter_->GridToLonLat(proj_, 39443000, 4418000, &lon, &lat, &status), E_INVALIDARG);
  EXPECT_NE(status, 0);
  EXPECT_EQ(converter_->GridToLonLat(nullptr, 1, 2, &lon, &lat, &status), E_POINTER);
}

TEST_F(CoordSys, VirtualTableKeepsTheInterfaceEntryPositions) {
  // Entry n (counted from 1) is slot n-1 of the virtual table.
  auto slot = [](const void* object, int entry) { return (*reinterpret_cast<void* const* const*>(object))[entry - 1]; };
  struct ProbeProj : ICoordSysProj {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetProjectionName(BSTR* name) override {
      *name = nullptr;
      return 18;
    }
  } probe;
  using Fn = HRESULT (*)(void*, BSTR*);
  BSTR out = nullptr;
  EXPECT_EQ(reinterpret_cast<Fn>(slot(&probe, 18))(&probe, &out), 18);
  EXPECT_EQ(probe.Reserved4(), E_NOTIMPL);
}
