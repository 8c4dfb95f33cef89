// The order of the chunks a run writes, with the EEPROM records' tags taken from the printer's
// block table.
#include "output/container_format.h"

#include "pv730/protocol.h"

namespace trawler {

const std::vector<std::string>& ChunkTagOrder() {
    static const std::vector<std::string> order = [] {
        std::vector<std::string> tags = {kTagComment, kTagCustomer, kTagPcLine, kTagClock,
                                         kTagVersion};
        for (const pv730::EepromBlockInfo& block : pv730::kEepromBlocks) tags.push_back(block.tag);
        tags.push_back(kTagLogInfo);
        tags.push_back(kTagLog);
        return tags;
    }();
    return order;
}

int ChunkTagRank(const std::string& tag) {
    const std::vector<std::string>& order = ChunkTagOrder();
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == tag) return static_cast<int>(i);
    }
    return -1;
}

uint32_t EepromBlockOfTag(const std::string& tag) {
    for (const pv730::EepromBlockInfo& block : pv730::kEepromBlocks) {
        if (tag == block.tag) return block.id;
    }
    return 0;
}

}  // namespace trawler
