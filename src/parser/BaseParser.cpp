// Construction, copying, configuration and the self-test of the parser.
#include "BaseParser.h"

#include <iostream>

#include "parser/SharedComponents.h"
#include "tiles/detail/TileNames.h"

namespace {
const wchar_t kEmptyText[] = L"";
}

CBaseParser::CBaseParser()
    : m_maxLevel(kmztile::tiles::detail::kFinestLevel),
      m_levelFolderCount(kmztile::tiles::detail::kLevelFolderCount),
      m_textureBase(kmztile::tiles::detail::kTextureBase),
      m_lastTileModelCount(0),
      m_workFolder("folder"),
      m_scopeFile("range"),
      m_coordsFile("coords"),
      m_coordSysText(kEmptyText),
      m_auxText(kEmptyText) {
  kmztile::detail::ReleaseSharedComponents();
}

CBaseParser::CBaseParser(const CBaseParser& other) = default;

CBaseParser& CBaseParser::operator=(const CBaseParser& other) = default;

CBaseParser::~CBaseParser() { kmztile::detail::ReleaseSharedComponents(); }

void CBaseParser::SetRequireFile(std::string workFolder, std::string scopeFile, std::string coordsFile) {
  if (workFolder.empty() || workFolder.back() != '\\') workFolder += '\\';
  m_workFolder = std::move(workFolder);
  m_scopeFile = std::move(scopeFile);
  m_coordsFile = std::move(coordsFile);
}

void CBaseParser::Test() { std::cout << "Test OK !" << std::endl << std::endl; }
