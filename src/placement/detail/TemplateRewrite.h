#pragma once
// One model's package as packaging lays it out: the template rewritten for
// the model, the COLLADA file it takes, and the paths of its files inside
// the package. Packaging writes these into a KMZ; the build command hands
// them to the tile core directly.
#include <string>
#include <vector>

namespace kmztile::placement::detail {

/** Why a model whose package cannot be made is left out. */
inline constexpr const char* kPackageNotWritten = "its package could not be written (model file or template unusable)";

/**
 * Rewrites template text for one model: a Folder gets the model's name and a
 * new placemark built from its first placemark (located at @p longitude,
 * @p latitude, linking models/@p modelFile); any other feature passes
 * unchanged. @return false when the text is not KML with a feature, the
 * Folder has no placemark carrying a Model with a Location, or libkml
 * refuses to serialise the result.
 */
bool RewriteTemplateText(const std::string& text, const std::string& modelName, const std::string& modelFile,
                         double longitude, double latitude, std::string& rewritten);

/**
 * The path of the model's COLLADA file folder\N.dae. The model file as
 * listed (such as house.DAE) stands in for it when the exact name is no
 * plain file that opens, as on a file system that ignores letter case; ""
 * when neither is.
 */
std::string ModelFilePath(const std::string& folder, const std::string& modelName, const std::string& modelFile);

/**
 * The texture file names of model @p modelName (its folder folder\N, in
 * package order). A texture folder that is a symbolic link is not followed:
 * recorded as a problem, no textures.
 */
void ListModelTextures(const std::string& folder, const std::string& modelName, std::vector<std::string>& textures);

/**
 * Reads texture @p texture of model @p modelName as packaging does (a plain
 * file only). @return false, with a problem recorded, when it cannot be read:
 * the package lacks it.
 */
bool ReadModelTexture(const std::string& folder, const std::string& modelName, const std::string& texture,
                      std::string& bytes);

/** A texture's path inside the package: "models/N/TEXTURE". */
std::string PackageTexturePath(const std::string& modelName, const std::string& texture);

/** The COLLADA file's path inside the package: "models/N.dae". */
std::string PackageModelPath(const std::string& modelName);

}  // namespace kmztile::placement::detail
