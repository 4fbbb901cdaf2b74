#include "Building.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace samplegen {

namespace {

/** Vertices of one triangle soup: position, normal and texture coordinate per vertex. */
struct Mesh {
  std::vector<double> positions, normals, uvs;
  size_t count = 0;
  void Add(double x, double y, double z, double nx, double ny, double nz, double u, double v) {
    positions.insert(positions.end(), {x, y, z});
    normals.insert(normals.end(), {nx, ny, nz});
    uvs.insert(uvs.end(), {u, v});
    ++count;
  }
};

std::vector<Point2> Rect(double x0, double y0, double x1, double y1) {
  return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

double Cross(const Point2& o, const Point2& a, const Point2& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool InTriangle(const Point2& p, const Point2& a, const Point2& b, const Point2& c) {
  return Cross(a, b, p) >= 0 && Cross(b, c, p) >= 0 && Cross(c, a, p) >= 0;
}

void AppendNumbers(std::string& out, const std::vector<double>& values) {
  char buf[48];
  for (size_t i = 0; i < values.size(); ++i) {
    // Millimetres are plenty; trailing zeros are dropped ("1.000" -> "1").
    int len = std::snprintf(buf, sizeof buf, "%.3f", values[i]);
    while (len > 0 && buf[len - 1] == '0') --len;
    if (len > 0 && buf[len - 1] == '.') --len;
    std::string number(buf, static_cast<size_t>(len));
    if (number == "-0") number = "0";
    if (i) out += ' ';
    out += number;
  }
}

void AppendSource(std::string& out, const std::string& id, const std::vector<double>& values, size_t count,
                  const char* params) {
  const size_t stride = values.size() / (count ? count : 1);
  out += "        <source id=\"" + id + "\">\n          <float_array id=\"" + id + "-array\" count=\"" +
         std::to_string(values.size()) + "\">";
  AppendNumbers(out, values);
  out += "</float_array>\n          <technique_common>\n            <accessor source=\"#" + id +
         "-array\" count=\"" + std::to_string(count) + "\" stride=\"" + std::to_string(stride) + "\">\n";
  for (const char* p = params; *p; ++p)
    out += std::string("              <param name=\"") + *p + "\" type=\"float\"/>\n";
  out += "            </accessor>\n          </technique_common>\n        </source>\n";
}

void AppendTriangles(std::string& out, const char* material, size_t first, size_t last) {
  out += std::string("        <triangles material=\"") + material + "\" count=\"" + std::to_string((last - first) / 3) +
         "\">\n"
         "          <input semantic=\"VERTEX\" source=\"#mesh-vertices\" offset=\"0\"/>\n"
         "          <input semantic=\"NORMAL\" source=\"#mesh-normals\" offset=\"0\"/>\n"
         "          <input semantic=\"TEXCOORD\" source=\"#mesh-uvs\" offset=\"0\" set=\"0\"/>\n"
         "          <p>";
  for (size_t i = first; i < last; ++i) {
    if (i != first) out += ' ';
    out += std::to_string(i);
  }
  out += "</p>\n        </triangles>\n";
}

std::string Effect(const std::string& id, const std::string& imageId, const Rgb& colour) {
  std::string out = "    <effect id=\"" + id + "-effect\">\n      <profile_COMMON>\n";
  if (!imageId.empty()) {
    out += "        <newparam sid=\"" + id + "-surface\">\n          <surface type=\"2D\">\n            <init_from>" +
           imageId + "</init_from>\n          </surface>\n        </newparam>\n        <newparam sid=\"" + id +
           "-sampler\">\n          <sampler2D>\n            <source>" + id +
           "-surface</source>\n          </sampler2D>\n        </newparam>\n";
  }
  out += "        <technique sid=\"common\">\n          <lambert>\n            <diffuse>\n";
  if (!imageId.empty()) {
    out += "              <texture texture=\"" + id + "-sampler\" texcoord=\"UVSET0\"/>\n";
  } else {
    char buf[96];
    std::snprintf(buf, sizeof buf, "              <color>%.3f %.3f %.3f 1</color>\n", colour.r / 255.0,
                  colour.g / 255.0, colour.b / 255.0);
    out += buf;
  }
  out += "            </diffuse>\n          </lambert>\n        </technique>\n      </profile_COMMON>\n    </effect>\n";
  return out;
}

}  // namespace

const char* ShapeName(Shape shape) {
  switch (shape) {
    case Shape::Box: return "box";
    case Shape::LShape: return "l-shape";
    case Shape::Slab: return "slab";
    case Shape::Tower: return "tower";
    case Shape::UShape: return "u-shape";
  }
  return "box";
}

std::vector<Prism> MakePrisms(Shape shape, double w, double d, double h, Random& random) {
  const double x0 = -w / 2, x1 = w / 2, y0 = -d / 2, y1 = d / 2;
  switch (shape) {
    case Shape::LShape: {
      const double cx = x0 + w * random.Range(0.4, 0.6);
      const double cy = y0 + d * random.Range(0.4, 0.6);
      return {{{{x0, y0}, {x1, y0}, {x1, cy}, {cx, cy}, {cx, y1}, {x0, y1}}, 0, h}};
    }
    case Shape::UShape: {
      const double arm = w * random.Range(0.25, 0.33);
      const double yard = y0 + d * random.Range(0.35, 0.5);
      return {{{{x0, y0}, {x1, y0}, {x1, y1}, {x1 - arm, y1}, {x1 - arm, yard}, {x0 + arm, yard}, {x0 + arm, y1},
                {x0, y1}},
               0,
               h}};
    }
    case Shape::Tower: {
      const double podium = std::min(h * 0.2, 15.0);
      const double inset = random.Range(0.15, 0.25);
      return {{Rect(x0, y0, x1, y1), 0, podium},
              {Rect(x0 + w * inset, y0 + d * inset, x1 - w * inset, y1 - d * inset), podium, h}};
    }
    case Shape::Box:
    case Shape::Slab:
      break;
  }
  return {{Rect(x0, y0, x1, y1), 0, h}};
}

std::vector<int> Triangulate(const std::vector<Point2>& polygon) {
  std::vector<int> result;
  std::vector<int> ring;
  for (size_t i = 0; i < polygon.size(); ++i) ring.push_back(static_cast<int>(i));
  while (ring.size() > 3) {
    bool clipped = false;
    for (size_t i = 0; i < ring.size(); ++i) {
      const int a = ring[(i + ring.size() - 1) % ring.size()], b = ring[i], c = ring[(i + 1) % ring.size()];
      if (Cross(polygon[a], polygon[b], polygon[c]) <= 0) continue;  // reflex corner
      bool empty = true;
      for (int other : ring) {
        if (other == a || other == b || other == c) continue;
        if (InTriangle(polygon[other], polygon[a], polygon[b], polygon[c])) {
          empty = false;
          break;
        }
      }
      if (!empty) continue;
      result.insert(result.end(), {a, b, c});
      ring.erase(ring.begin() + static_cast<long>(i));
      clipped = true;
      break;
    }
    if (!clipped) break;  // degenerate input: stop rather than loop forever
  }
  if (ring.size() == 3) result.insert(result.end(), {ring[0], ring[1], ring[2]});
  return result;
}

std::string ColladaDocument(const Building& building) {
  Mesh mesh;
  for (const Prism& prism : building.prisms) {
    double along = 0;
    const auto& f = prism.footprint;
    for (size_t i = 0; i < f.size(); ++i) {
      const Point2& a = f[i];
      const Point2& b = f[(i + 1) % f.size()];
      const double len = std::hypot(b.x - a.x, b.y - a.y);
      if (len <= 0) continue;
      const double nx = (b.y - a.y) / len, ny = -(b.x - a.x) / len;
      const double u0 = along / building.facadeRepeatW, u1 = (along + len) / building.facadeRepeatW;
      const double v0 = prism.z0 / building.facadeRepeatH, v1 = prism.z1 / building.facadeRepeatH;
      mesh.Add(a.x, a.y, prism.z0, nx, ny, 0, u0, v0);
      mesh.Add(b.x, b.y, prism.z0, nx, ny, 0, u1, v0);
      mesh.Add(b.x, b.y, prism.z1, nx, ny, 0, u1, v1);
      mesh.Add(a.x, a.y, prism.z0, nx, ny, 0, u0, v0);
      mesh.Add(b.x, b.y, prism.z1, nx, ny, 0, u1, v1);
      mesh.Add(a.x, a.y, prism.z1, nx, ny, 0, u0, v1);
      along += len;
    }
  }
  const size_t wallEnd = mesh.count;
  for (const Prism& prism : building.prisms) {
    double minX = prism.footprint[0].x, minY = prism.footprint[0].y, size = 1;
    for (const Point2& p : prism.footprint) {
      minX = std::min(minX, p.x);
      minY = std::min(minY, p.y);
    }
    for (const Point2& p : prism.footprint) size = std::max({size, p.x - minX, p.y - minY});
    for (int index : Triangulate(prism.footprint)) {
      const Point2& p = prism.footprint[static_cast<size_t>(index)];
      mesh.Add(p.x, p.y, prism.z1, 0, 0, 1, (p.x - minX) / size, (p.y - minY) / size);
    }
  }

  const std::string& n = building.name;
  std::string out =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n"
      "  <asset>\n    <contributor>\n      <authoring_tool>kmztile-samplegen</authoring_tool>\n    </contributor>\n"
      "    <created>2026-01-01T00:00:00Z</created>\n    <modified>2026-01-01T00:00:00Z</modified>\n"
      "    <unit name=\"meter\" meter=\"1\"/>\n    <up_axis>Z_UP</up_axis>\n  </asset>\n"
      "  <library_images>\n"
      "    <image id=\"facade-image\" name=\"facade-image\">\n      <init_from>" +
      n + "/" + building.facadeFile + "</init_from>\n    </image>\n";
  if (!building.roofFile.empty())
    out += "    <image id=\"roof-image\" name=\"roof-image\">\n      <init_from>" + n + "/" + building.roofFile +
           "</init_from>\n    </image>\n";
  out +=
      "  </library_images>\n  <library_materials>\n"
      "    <material id=\"facade-material\" name=\"facade\">\n      <instance_effect url=\"#facade-effect\"/>\n"
      "    </material>\n"
      "    <material id=\"roof-material\" name=\"roof\">\n      <instance_effect url=\"#roof-effect\"/>\n"
      "    </material>\n  </library_materials>\n  <library_effects>\n";
  out += Effect("facade", "facade-image", {});
  out += Effect("roof", building.roofFile.empty() ? "" : "roof-image", building.roofColour);
  out += "  </library_effects>\n  <library_geometries>\n    <geometry id=\"mesh\" name=\"" + n +
         "\">\n      <mesh>\n";
  AppendSource(out, "mesh-positions", mesh.positions, mesh.count, "XYZ");
  AppendSource(out, "mesh-normals", mesh.normals, mesh.count, "XYZ");
  AppendSource(out, "mesh-uvs", mesh.uvs, mesh.count, "ST");
  out += "        <vertices id=\"mesh-vertices\">\n          <input semantic=\"POSITION\" source=\"#mesh-positions\"/>\n"
         "        </vertices>\n";
  AppendTriangles(out, "facade", 0, wallEnd);
  AppendTriangles(out, "roof", wallEnd, mesh.count);
  out +=
      "      </mesh>\n    </geometry>\n  </library_geometries>\n  <library_visual_scenes>\n"
      "    <visual_scene id=\"scene\" name=\"scene\">\n      <node id=\"building\" name=\"" +
      n +
      "\">\n        <instance_geometry url=\"#mesh\">\n          <bind_material>\n            <technique_common>\n"
      "              <instance_material symbol=\"facade\" target=\"#facade-material\">\n"
      "                <bind_vertex_input semantic=\"UVSET0\" input_semantic=\"TEXCOORD\" input_set=\"0\"/>\n"
      "              </instance_material>\n"
      "              <instance_material symbol=\"roof\" target=\"#roof-material\">\n"
      "                <bind_vertex_input semantic=\"UVSET0\" input_semantic=\"TEXCOORD\" input_set=\"0\"/>\n"
      "              </instance_material>\n"
      "            </technique_common>\n          </bind_material>\n        </instance_geometry>\n"
      "      </node>\n    </visual_scene>\n  </library_visual_scenes>\n"
      "  <scene>\n    <instance_visual_scene url=\"#scene\"/>\n  </scene>\n</COLLADA>\n";
  return out;
}

}  // namespace samplegen
