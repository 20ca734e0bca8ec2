#include "tools/ttree/TreeCommand.h"

#include <cstdio>
#include <optional>
#include <set>
#include <utility>

#include "platform/harbor/CbStringConversion.h"
#include "tools/ttree/CommandSupport.h"
#include "tools/ttree/Wording.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace {

// What a line of the tree says about one node.
struct NodeFacts {
    std::string id;
    std::string description;
    const char* kind;
    uint64_t count;  // children of an inner node, surfels of a scan
    bool scan;
    std::optional<uint64_t> sequence;
    bool keyframe;
    std::optional<float> cell;
};

// Walks a session's tree and prints it as an outline or as JSON.
class TreePrinter {
public:
    TreePrinter(const KaCSessionFile::Contents& session, uint32_t depth)
        : m_root(session.root), m_depth(depth) {
        std::vector<const KaCTransformationNode*> clusters = CommandSupport::ClustersOf(session);
        m_clusters.insert(clusters.begin(), clusters.end());
        m_cell = CommandSupport::ModelCellOf(session);
    }

    void Outline(const KaCTransformationNode& node, uint32_t level) const {
        NodeFacts facts = factsOf(node);
        std::string line(2 * level, ' ');
        line += facts.id + "  " + (facts.description.empty() ? "-" : facts.description) + "  " +
                facts.kind + "  " +
                (facts.scan ? Wording::Count(facts.count, "surfel", "surfels")
                            : Wording::Count(facts.count, "child", "children"));
        if (facts.sequence) {
            line += ", sequence " + std::to_string(*facts.sequence);
        }
        if (facts.keyframe) {
            line += ", keyframe";
        }
        if (facts.cell) {
            line += ", cell " + Wording::Number(*facts.cell) + " mm";
        }
        std::printf("%s\n", line.c_str());
        forChildren(node, level,
                    [&](const KaCTransformationNode& child) { Outline(child, level + 1); });
    }

    void Json(const KaCTransformationNode& node, uint32_t level) const {
        NodeFacts facts = factsOf(node);
        std::string indent(2 * level, ' ');
        std::printf(
            "%s{\"id\": %s, \"description\": %s, \"kind\": \"%s\", \"%s\": %llu", indent.c_str(),
            jsonString(facts.id).c_str(), jsonString(facts.description).c_str(), facts.kind,
            facts.scan ? "surfels" : "childCount", static_cast<unsigned long long>(facts.count));
        if (facts.sequence) {
            std::printf(", \"sequence\": %llu", static_cast<unsigned long long>(*facts.sequence));
        }
        std::printf(", \"keyframe\": %s", facts.keyframe ? "true" : "false");
        if (facts.cell) {
            std::printf(", \"cellMm\": %s", Wording::Number(*facts.cell).c_str());
        }
        if (node.IsLeaf()) {
            std::printf("}");
            return;
        }
        std::printf(", \"children\": [");
        const char* separator = "\n";
        bool any = false;
        forChildren(node, level, [&](const KaCTransformationNode& child) {
            std::printf("%s", separator);
            Json(child, level + 1);
            separator = ",\n";
            any = true;
        });
        std::printf(any ? "\n%s]}" : "]}", indent.c_str());
    }

private:
    template <class Visit>
    void forChildren(const KaCTransformationNode& node, uint32_t level, Visit visit) const {
        if (node.IsLeaf() || level >= m_depth) {
            return;
        }
        for (const auto& child :
             static_cast<const KaCTransformationNodeInner&>(node).GetChildren()) {
            visit(*child);
        }
    }

    NodeFacts factsOf(const KaCTransformationNode& node) const {
        NodeFacts facts{"{" + CbToUtf8(node.GetID().ToString()) + "}",
                        CbToUtf8(node.GetDescription()),
                        "inner",
                        0,
                        node.IsLeaf(),
                        std::nullopt,
                        node.IsKeyframe(),
                        std::nullopt};
        if (node.IsLeaf()) {
            facts.kind = "scan";
            auto model = node.GetModel();
            if (model) {
                facts.count = model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                                  ->GetNrSurfels();
                facts.sequence = model->GetAcquireSequenceNumber();
            }
            return facts;
        }
        facts.count = static_cast<const KaCTransformationNodeInner&>(node).GetNrChildren();
        facts.kind = &node == m_root.Get()          ? "root"
                     : m_clusters.count(&node) != 0 ? "cluster"
                                                    : "inner";
        if (node.GetModel()) {
            facts.cell = m_cell;
        }
        return facts;
    }

    static std::string jsonString(const std::string& text) {
        std::string out = "\"";
        for (char c : text) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
        return out + "\"";
    }

    CbSmartPointer<KaCTransformationNodeInner> m_root;
    uint32_t m_depth;
    std::set<const KaCTransformationNode*> m_clusters;
    std::optional<float> m_cell;
};

}  // namespace

int TreeCommand::Run(const Options& options) {
    KaCSessionFile::Contents session = KaCSessionFile::Read(options.file, false);
    TreePrinter printer(session, options.depth);
    if (options.json) {
        printer.Json(*session.root, 0);
        std::printf("\n");
    } else {
        printer.Outline(*session.root, 0);
    }
    return 0;
}
