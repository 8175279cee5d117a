#pragma once
// What the stream decoders tell the monitor about a base: its workspace tree node and its map
// position. The defaults ignore both, so decoders run without a monitor.
struct ClientEntry;

class DecoderMonitor {
 public:
  virtual ~DecoderMonitor() = default;
  // 1525: workspace tree; entry is null for the codes that do not name one.
  virtual void OnTree(int /*code*/, const ClientEntry* /*entry*/, int /*value*/) {}
  // 1529: map and station; entry is null for the codes that do not name one.
  virtual void OnMap(int /*code*/, const ClientEntry* /*entry*/) {}
};
