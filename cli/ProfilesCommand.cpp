#include "ProfilesCommand.h"

#include "core/Catalogue.h"

namespace tarnel::cli {

void ListProfiles(std::ostream& out) {
    for (int group = 0; group < kCatalogueGroups; ++group) {
        out << (group ? "\n" : "") << GroupCaption(group) << "\n";
        for (const TItemInfo& profile : GroupProfiles(group))
            out << "  " << profile.Code << "\t" << profile.Caption() << "\n";
    }
}

} // namespace tarnel::cli
