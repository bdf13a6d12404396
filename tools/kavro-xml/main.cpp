// kavro-xml: loads a configuration document, prints its tree and optionally saves it again.
//   kavro-xml FILE            print the tree
//   kavro-xml FILE OUT        print the tree and save the document as OUT (one line, as the programs write it)
#include "minxl/minxl.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

void print(const MinXL::t_xml_node& n, int depth) {
    std::printf("%*s%d  <%s>", depth * 2, "", static_cast<int>(depth), n.node_name().c_str());
    for (unsigned a = 0; a < n.attribute_count(); ++a)
        std::printf(" %s=\"%s\"", n.attribute_name(a).c_str(), n.attribute_value(a).c_str());
    if (n.child_count() == 0) std::printf("  \"%s\"", n.node_text().c_str());
    std::printf("\n");
    for (unsigned i = 0; i < n.child_count(); ++i) print(n.child(i), depth + 1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kavro-xml FILE [OUT]\n");
        return 2;
    }
    MinXL::t_xml_node doc("_EMPTY_", "");
    try {
        doc.load_file(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kavro-xml: %s: %s\n", argv[1], e.what());
        return 1;
    }
    print(doc, 0);
    if (argc == 3) {
        if (!doc.save_file(argv[2])) {
            std::fprintf(stderr, "kavro-xml: cannot write %s\n", argv[2]);
            return 1;
        }
        std::printf("saved to %s\n", argv[2]);
    }
    return 0;
}
