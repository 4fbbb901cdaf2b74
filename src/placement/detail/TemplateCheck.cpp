#include "placement/detail/TemplateCheck.h"

#include <functional>
#include <unordered_set>

#include "kml/dom.h"
#include "kml/engine.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/Locale.h"

namespace kmztile::placement::detail {
namespace {

/** Most models packaging is played through (see FirstModelLeftOut). */
constexpr int kModelsPlayed = 16;

// Plays packaging through on the template: each model's document is the one
// before it with its first placemark replaced by the model's. That takes the
// place of the first feature of the Folder named as that placemark, which
// need not be the placemark itself; then the pattern stays beside the model's
// placemark (its id held twice, so nothing can be written); and the model's
// placemark goes to the end of the Folder, so a placemark that came after
// the pattern is the first one for the next model (one without a Model
// leaves that model and every later one out). The model's name, place and file
// change nothing of this, so one stands for all; the documents soon repeat.
// @return the number of the first model whose document cannot be made, or
// 0 when every model's can.
int FirstModelLeftOut(const std::string& kmlText) {
  std::unordered_set<std::size_t> seen;
  std::string document = kmlText, next;
  for (int model = 1; model <= kModelsPlayed; ++model) {
    if (!RewriteTemplateText(document, "m", "m.dae", 0, 0, next)) return model;
    if (!seen.insert(std::hash<std::string>()(next)).second) return 0;
    document.swap(next);
  }
  return 0;
}

}  // namespace

std::string CheckTemplateKml(const std::string& kmlText, bool forTiles) {
  std::string errors;
  const platform::KmlNumbers numbers;
  const kmldom::ElementPtr root = kmldom::Parse(kmlText, &errors);
  if (!root) return "does not parse as KML" + (errors.empty() ? std::string() : ": " + errors);
  const kmldom::KmlPtr kml = kmldom::AsKml(root);
  if (!kml) return "the root element is not <kml>";
  if (!kml->has_feature()) return "the <kml> element holds no feature";
  const kmldom::FolderPtr folder = kmldom::AsFolder(kml->get_feature());
  if (!folder) return "the top feature is not a <Folder>, so no model placemark would be written";
  kmldom::PlacemarkPtr pattern;
  for (size_t i = 0; i < folder->get_feature_array_size() && !pattern; ++i)
    pattern = kmldom::AsPlacemark(folder->get_feature_array_at(i));
  if (!pattern) return "the <Folder> holds no <Placemark> to serve as the model pattern";
  if (!pattern->has_geometry()) return "the first <Placemark> of the <Folder> has no geometry; it needs a <Model>";
  const kmldom::ModelPtr model = kmldom::AsModel(pattern->get_geometry());
  if (!model) return "the geometry of the first <Placemark> of the <Folder> is not a <Model>";
  if (!model->has_location()) return "the <Model> of the first <Placemark> has no <Location>";
  if (forTiles && pattern->get_name() != "Model")
    return "the first <Placemark> of the <Folder> is named \"" + pattern->get_name() +
           "\", not \"Model\": tiles would keep it beside each model's placemark, pointing at a model no tile holds";
  // The rewritten document is serialised through a KML file, which refuses
  // duplicate ids; the template's ids all survive the rewrite.
  const kmlengine::KmlFilePtr file = kmlengine::KmlFile::CreateFromImport(root);
  if (!file) return "it cannot be serialised again (duplicate id attributes?)";
  // Each model's document is the template written again and read back by
  // the next model. The writer puts attribute values out as they were read,
  // so a value holding &, < or a quote (written &amp; &lt; &quot; in the
  // file) comes out as markup that no longer reads: the first model would
  // be packed and every later one lost. Text holding "]]>" breaks the same
  // way, as the writer keeps it in one CDATA section.
  std::string written, again, twice;
  if (!file->SerializeToString(&written)) return "it cannot be written as KML again";
  const kmldom::ElementPtr reread = kmldom::Parse(written, &again);
  if (!reread)
    return "written again, it no longer reads as KML (an attribute value holding &, < or \" is written back "
           "unescaped, and text holding ]]> ends its CDATA section early; write them without these)" +
           (again.empty() ? std::string() : ": " + again);
  // A value escaped twice (&amp;amp;) reads back once, one escape fewer, and
  // fails a write later. Only a template that writes as it reads back stays
  // the same for every model.
  const kmlengine::KmlFilePtr rereadFile = kmlengine::KmlFile::CreateFromImport(reread);
  if (!rereadFile || !rereadFile->SerializeToString(&twice) || twice != written)
    return "it changes each time it is written (an attribute value escaped twice, such as &amp;amp;, "
           "loses an escape per model and breaks a later model's document); write it without &, < or \"";
  const int leftOut = FirstModelLeftOut(kmlText);
  if (leftOut == 1)
    return "no model's document can be made from it: the model's placemark replaces the first feature of the "
           "<Folder> named \"" +
           pattern->get_name() +
           "\", which is not the first <Placemark> (or it has no name), so that placemark stays and its id would "
           "be held twice; give the first <Placemark> a name no feature before it has";
  if (leftOut > 1)
    return "model " + std::to_string(leftOut) +
           " and every one after it would be left out: each model's document is the one before it with its first "
           "<Placemark> replaced by the model's, which goes to the end of the <Folder>, and by model " +
           std::to_string(leftOut) +
           " the first <Placemark> holds no <Model> (one that came after the pattern, or another named \"" +
           pattern->get_name() + "\"); put other placemarks before the pattern or in a <Folder> of their own";
  return {};
}

std::string CheckTemplateFile(const std::string& path, bool forTiles) {
  if (platform::IsSymbolicLink(path)) return "the template KML is a symbolic link; links are not followed";
  std::string text;
  if (!platform::ReadPlainFile(path, text))
    return platform::PathExists(path) ? "the template KML is not a plain file that can be read"
                                      : "the template KML is missing";
  const std::string reason = CheckTemplateKml(text, forTiles);
  return reason.empty() ? reason : "the template KML is unusable: " + reason;
}

}  // namespace kmztile::placement::detail
