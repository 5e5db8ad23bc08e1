#pragma once
// The content-stream operators the engine acts on (ISO 32000-2 Annex A, Table A.1), listed
// once: every other operator only ends the operands before it.
#include <cstdint>
#include <string_view>

namespace ferretta::pdf {

enum class Operator : std::uint8_t {
    Other,
    // Text showing (§9.4.3)
    ShowText,         // Tj
    ShowTextArray,    // TJ
    NextLineShow,     // '
    SpacingLineShow,  // "
    // Text state (§9.3)
    SetFont,             // Tf
    SetRenderMode,       // Tr
    SetCharSpacing,      // Tc
    SetWordSpacing,      // Tw
    SetHorizontalScale,  // Tz
    SetLeading,          // TL
    // Text objects and positioning (§9.4.1, §9.4.2)
    BeginText,           // BT
    EndText,             // ET
    MoveText,            // Td
    MoveTextSetLeading,  // TD
    SetTextMatrix,       // Tm
    NextLine,            // T*
    // Graphics state (§8.4.2)
    Save,     // q
    Restore,  // Q
    // XObjects and inline images (§8.8, §8.9.7)
    PaintXObject,     // Do
    InlineImageData,  // ID
};

struct OperatorName {
    std::string_view text;
    Operator op;
};

inline constexpr OperatorName operatorNames[] = {
    {"Tj", Operator::ShowText},
    {"TJ", Operator::ShowTextArray},
    {"'", Operator::NextLineShow},
    {"\"", Operator::SpacingLineShow},
    {"Tf", Operator::SetFont},
    {"Tr", Operator::SetRenderMode},
    {"Tc", Operator::SetCharSpacing},
    {"Tw", Operator::SetWordSpacing},
    {"Tz", Operator::SetHorizontalScale},
    {"TL", Operator::SetLeading},
    {"BT", Operator::BeginText},
    {"ET", Operator::EndText},
    {"Td", Operator::MoveText},
    {"TD", Operator::MoveTextSetLeading},
    {"Tm", Operator::SetTextMatrix},
    {"T*", Operator::NextLine},
    {"q", Operator::Save},
    {"Q", Operator::Restore},
    {"Do", Operator::PaintXObject},
    {"ID", Operator::InlineImageData},
};

// The operator a keyword names; Operator::Other for every other keyword.
Operator operatorOf(std::string_view keyword);

}  // namespace ferretta::pdf
