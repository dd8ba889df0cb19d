#include "bench/bench_document.h"

std::string BenchDocument(size_t bytes) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Deployment>\n";
  for (size_t group = 0; text.size() < bytes; ++group) {
    const std::string number = std::to_string(group);
    text += "  <Properties group=\"" + number + "\" kind=\"payload\">\n";
    for (int property = 0; property < 8; ++property) {
      const std::string id = number + "." + std::to_string(property);
      text += "    <Property name=\"installSourcePath" + id +
              "\">/Volumes/Folian Pro/Pkg Dir/Caf\xc3\xa9 &amp; Co/" + id + "</Property>\n";
    }
    text += "    <Component id=\"c" + number + "\"><Name>Folian &lt;Pro&gt; " + number +
            "</Name><Version>23.008." + number + "</Version></Component>\n  </Properties>\n";
  }
  text += "</Deployment>\n";
  return text;
}
