#include "audio/DecoderRegistry.h"

#include <gst/gst.h>

namespace tamberlo {

namespace {

bool anyElementTakes(const DecodeStep& step) {
    GstCaps* caps = gst_caps_from_string(step.caps.toUtf8().constData());
    if (!caps)
        return true; // nothing to ask about
    // Parsers take the same input as decoders but decode nothing: a decoder step needs an
    // element classed as a decoder, a container step one classed as a demuxer.
    const GstElementFactoryListType type = step.kind == DecodeStep::Demuxer
                                               ? GST_ELEMENT_FACTORY_TYPE_DEMUXER
                                               : GST_ELEMENT_FACTORY_TYPE_DECODER;
    GList* all = gst_element_factory_list_get_elements(type, GST_RANK_MARGINAL);
    GList* taking = gst_element_factory_list_filter(all, caps, GST_PAD_SINK, FALSE);
    const bool found = taking != nullptr;
    gst_plugin_feature_list_free(taking);
    gst_plugin_feature_list_free(all);
    gst_caps_unref(caps);
    return found;
}

} // namespace

std::optional<DecodeStep> missingDecodeStep(const AudioFormat& format) {
    // Already done by the media player's backend when it has run; harmless again.
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return std::nullopt;
    for (const DecodeStep& step : format.steps)
        if (!anyElementTakes(step))
            return step;
    return std::nullopt;
}

} // namespace tamberlo
