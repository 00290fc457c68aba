#include "DuplicateIndex.h"

#include "screening/TextMatch.h"

namespace update {

DuplicateIndex::DuplicateIndex(const std::vector<std::string>& entries)
    : base_(MakeBlock(entries)) {}

DuplicateIndex::~DuplicateIndex() = default;

std::unique_ptr<DuplicateIndex::Block>
DuplicateIndex::MakeBlock(const std::vector<std::string>& entries) {
    auto block = std::make_unique<Block>();
    block->Prepare(entries, true);
    return block;
}

bool DuplicateIndex::Covers(const std::string& line) {
    if (base_->FirstMatch(line, 1) != Block::kNoMatch) return true;
    for (const auto& block : blocks_)
        if (block->FirstMatch(line, 1) != Block::kNoMatch) return true;
    if (loose_.empty()) return false;
    const std::string folded = screening::LowerCase(line);
    for (const std::string& entry : loose_)
        if (folded.find(entry) != std::string::npos) return true;
    return false;
}

void DuplicateIndex::Add(const std::string& entry) {
    if (entry.empty()) return; // matches nothing
    loose_.push_back(screening::LowerCase(entry));
    if (loose_.size() < kLoose) return;
    std::vector<std::string> merged = std::move(loose_);
    loose_.clear();
    // Carry: fold the smallest blocks into the new one while they are no larger than it.
    while (!blocks_.empty() && blocks_.back()->Count() <= merged.size()) {
        const Block& older = *blocks_.back();
        for (std::size_t i = 0; i < older.Count(); ++i)
            merged.emplace_back(older.Entry(i));
        blocks_.pop_back();
    }
    blocks_.push_back(MakeBlock(merged));
}

} // namespace update
