// Construction, copying, configuration and the self-test of the parser.
#include "BaseParser.h"

#include <iostream>

#include "parser/SharedComponents.h"

namespace {
const wchar_t kEmptyText[] = L"";
}

CBaseParser::CBaseParser()
    : m_maxLevel(18),
      m_levelFolderCount(4),
      m_textureBase(2),
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
