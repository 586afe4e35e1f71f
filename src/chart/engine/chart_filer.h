#pragma once
// Extra stream properties: values a chart object keeps in a form stream
// beside its published properties (the points of a series, the indexes of
// the axes it is bound to, properties of older streams that are only read).
// An object names each of them with DefineProperties(TFiler&); a writer
// filer writes those that have data, a reader filer reads the one whose
// name it met.
#include <functional>
#include <string>

#include "chart/drawing/property_stream.h"
#include "platform/vcl/graphics.h"
#include "platform/vcl/streams.h"

namespace chart::engine {

using TReaderProc = std::function<void(chart::TReader&)>;
using TWriterProc = std::function<void(chart::TWriter&)>;
using TStreamProc = std::function<void(vcl::TStream&)>;

class TFiler {
  public:
    virtual ~TFiler() = default;
    // A property of the stream's own values; no writer: read only.
    virtual void DefineProperty(const std::string& Name, const TReaderProc& ReadData,
                                const TWriterProc& WriteData, bool HasData) = 0;
    // A property kept as a block of bytes.
    virtual void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                                      const TStreamProc& WriteData, bool HasData) = 0;
};

// Writes every defined property that has data and a writer: its name, then
// its value.
class TPropertyWriter final : public TFiler {
  public:
    explicit TPropertyWriter(chart::TWriter& Writer) : writer_(Writer) {}
    void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                        bool HasData) override;
    void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                              const TStreamProc& WriteData, bool HasData) override;

  private:
    chart::TWriter& writer_;
};

// Hands the properties of an object that another holds on to the holder's
// filer under the holder's name for it: "Legend." + "ShadowColor".
class TPrefixedFiler final : public TFiler {
  public:
    TPrefixedFiler(TFiler& Filer, std::string Prefix) : filer_(Filer), prefix_(std::move(Prefix)) {}
    void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                        bool HasData) override {
        filer_.DefineProperty(prefix_ + Name, ReadData, WriteData, HasData);
    }
    void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                              const TStreamProc& WriteData, bool HasData) override {
        filer_.DefineBinaryProperty(prefix_ + Name, ReadData, WriteData, HasData);
    }

  private:
    TFiler& filer_;
    std::string prefix_;
};

// A number held to 32 bits.
int ReadInt32(chart::TReader& Reader);

// A colour as streams keep it: a colour's name ("clRed") or a number. An
// unknown name raises rtl::EReadError.
vcl::TColor ReadColorValue(chart::TReader& Reader);

// Reads the value of the property Name (whose name was read already) when
// one is defined under it; Found tells whether one was.
class TPropertyReader final : public TFiler {
  public:
    TPropertyReader(chart::TReader& Reader, std::string Name) : reader_(Reader), name_(std::move(Name)) {}
    void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                        bool HasData) override;
    void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                              const TStreamProc& WriteData, bool HasData) override;
    bool Found() const { return found_; }

  private:
    chart::TReader& reader_;
    std::string name_;
    bool found_ = false;
};

}  // namespace chart::engine
