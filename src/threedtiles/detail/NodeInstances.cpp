#include "threedtiles/detail/NodeInstances.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/ExpatParser.h"

namespace kmztile::threedtiles::detail {
namespace {

const char* LocalName(const XML_Char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

const XML_Char* Attribute(const XML_Char** attributes, const char* name) {
  for (; attributes[0]; attributes += 2)
    if (std::strcmp(LocalName(attributes[0]), name) == 0) return attributes[1];
  return nullptr;
}

// For every node id, the nodes instanced anywhere inside it (once per
// <instance_node>, so a node instanced twice is listed twice).
struct Graph {
  std::vector<std::string> open;  // ids of the open <node> elements ("" without one)
  std::map<std::string, std::vector<std::string>> instances;

  static void Start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* self = static_cast<Graph*>(data);
    const char* local = LocalName(name);
    if (std::strcmp(local, "node") == 0) {
      const XML_Char* id = Attribute(attributes, "id");
      self->open.push_back(id ? id : "");
      if (id) self->instances[id];
    } else if (std::strcmp(local, "instance_node") == 0) {
      const XML_Char* url = Attribute(attributes, "url");
      if (!url || url[0] != '#') return;
      for (const std::string& id : self->open)
        if (!id.empty()) self->instances[id].push_back(url + 1);
    }
  }
  static void End(void* data, const XML_Char* name) {
    auto* self = static_cast<Graph*>(data);
    if (std::strcmp(LocalName(name), "node") == 0 && !self->open.empty()) self->open.pop_back();
  }
};

// The node copies instancing @p id makes (itself included), or -1 when it
// leads back to a node still being counted. @p counted caches the results.
double Copies(const Graph& graph, const std::string& id, std::map<std::string, double>& counted,
              std::vector<std::string>& path) {
  if (std::find(path.begin(), path.end(), id) != path.end()) {
    path.push_back(id);
    return -1;
  }
  const auto done = counted.find(id);
  if (done != counted.end()) return done->second;
  const auto node = graph.instances.find(id);
  double copies = 1;
  if (node != graph.instances.end()) {
    path.push_back(id);
    for (const std::string& target : node->second) {
      const double more = Copies(graph, target, counted, path);
      if (more < 0) return -1;
      copies = std::min(copies + more, kMaxNodeInstances * 2);  // saturates, so no overflow
    }
    path.pop_back();
  }
  counted[id] = copies;
  return copies;
}

}  // namespace

bool CheckNodeInstances(const std::string& dae, std::string& error) {
  if (dae.find("instance_node") == std::string::npos) return true;
  const platform::ExpatParser parser = platform::MakeExpatParser(nullptr);
  if (!parser) {
    error = "out of memory creating the XML parser";
    return false;
  }
  Graph graph;
  XML_SetUserData(parser.get(), &graph);
  XML_SetElementHandler(parser.get(), &Graph::Start, &Graph::End);
  constexpr std::size_t kChunk = 1 << 20;  // Expat takes an int length
  for (std::size_t offset = 0; offset < dae.size(); offset += kChunk) {
    const std::size_t n = std::min(kChunk, dae.size() - offset);
    if (XML_Parse(parser.get(), dae.data() + offset, static_cast<int>(n), offset + n == dae.size()) != XML_STATUS_OK)
      return true;
  }
  std::map<std::string, double> counted;
  for (const auto& node : graph.instances) {
    std::vector<std::string> path;
    const double copies = Copies(graph, node.first, counted, path);
    if (copies < 0) {
      std::string cycle;  // the loop alone, from the node it returns to
      for (auto id = std::find(path.begin(), path.end(), path.back()); id != path.end(); ++id)
        cycle += (cycle.empty() ? "" : " -> ") + *id;
      error = "node \"" + path.back() + "\" instances itself through <instance_node> (" + cycle + ")";
      return false;
    }
    if (copies > kMaxNodeInstances) {
      error = "node \"" + node.first + "\" would be copied into more than " +
              std::to_string(static_cast<long>(kMaxNodeInstances)) + " nodes by <instance_node>";
      return false;
    }
  }
  return true;
}

}  // namespace kmztile::threedtiles::detail
