#include "Template.h"

#include <cstdio>

namespace samplegen {

std::string TemplateKml(double centreLon, double centreLat) {
  char buf[2048];
  std::snprintf(buf, sizeof buf,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                "<Folder>\n"
                "  <name>Sample city</name>\n"
                "  <Folder>\n"
                "    <name>About</name>\n"
                "    <description>Procedurally generated sample buildings for kmztile.</description>\n"
                "    <LookAt>\n"
                "      <longitude>%.6f</longitude>\n"
                "      <latitude>%.6f</latitude>\n"
                "      <altitude>0</altitude>\n"
                "      <heading>0</heading>\n"
                "      <tilt>55</tilt>\n"
                "      <range>2500</range>\n"
                "    </LookAt>\n"
                "  </Folder>\n"
                "  <Placemark id=\"model\">\n"
                "    <name>Model</name>\n"
                "    <description>Sample building</description>\n"
                "    <Model>\n"
                "      <altitudeMode>relativeToGround</altitudeMode>\n"
                "      <Location>\n"
                "        <longitude>%.6f</longitude>\n"
                "        <latitude>%.6f</latitude>\n"
                "        <altitude>0</altitude>\n"
                "      </Location>\n"
                "      <Orientation>\n"
                "        <heading>0</heading>\n"
                "        <tilt>0</tilt>\n"
                "        <roll>0</roll>\n"
                "      </Orientation>\n"
                "      <Scale>\n"
                "        <x>1</x>\n"
                "        <y>1</y>\n"
                "        <z>1</z>\n"
                "      </Scale>\n"
                "      <Link>\n"
                "        <href>models/x.dae</href>\n"
                "      </Link>\n"
                "    </Model>\n"
                "  </Placemark>\n"
                "</Folder>\n"
                "</kml>\n",
                centreLon, centreLat, centreLon, centreLat);
  return buf;
}

}  // namespace samplegen
