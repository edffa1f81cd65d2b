// Test access to a CaptureGraph's holders: objects a test puts in place by
// hand that the graph's own steps would otherwise make.
#pragma once

#include <utility>

#include "graph/capture_graph.h"

namespace kovic {

class CaptureGraphTestPeer {
public:
    static ComPtr<ICaptureGraphBuilder2> &graph_builder(CaptureGraph &graph) { return graph.graph_builder_; }
    static void AdoptFrameSink(CaptureGraph &graph, FrameSinkPtr sink) { graph.frame_sink_ = std::move(sink); }
};

}  // namespace kovic
