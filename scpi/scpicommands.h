// The instrument's one command table: every header it knows, what each takes, which forms
// (setting, query) it has. Matching a header against it is all the parser knows of commands.
#pragma once

#include "scpiparser.h"

namespace Scpi {

enum class Command {
    Identify,
    Reset,
    Clear,
    EventEnable,
    EventStatus,
    ServiceEnable,
    StatusByte,
    OperationComplete,
    Wait,
    SelfTest,
    ErrorNext,
    ErrorAll,
    ErrorCount,
    BoardRestarts,
    Version,
    OperationEvent,
    OperationCondition,
    OperationEnable,
    QuestionableEvent,
    QuestionableCondition,
    QuestionableEnable,
    Preset,
    SourceVolts,
    SourceCode,
    Reference,
    MeasureVolts,
    MeasureCode,
    Vdd,
    Word,
    ClrPin,
    LdacPin,
    CalibrationState,
    CalibrationDate,
    CalibrationDue,
    CalibrationData,
    Calibrate,
};

// What the setting form takes; a query of a numeric setting may take MIN, MAX or DEF. `Range`:
// a measurement's optional expected value and resolution, read and checked but not needed, as
// the readback has one range.
enum class Parameter { None, Volts, Code, Supply, Register, Enable, Word, Level, Range, Boolean };

enum Forms { Sets = 1, Queries = 2, Both = 3 };

struct CommandRow
{
    const char *pattern;
    Command command;
    Parameter parameter;
    int forms;
    int highestSuffix; // for the '#' node: 1 to this
};

inline constexpr CommandRow commandTable[] = {
        {"*IDN", Command::Identify, Parameter::None, Queries, 0},
        {"*RST", Command::Reset, Parameter::None, Sets, 0},
        {"*CLS", Command::Clear, Parameter::None, Sets, 0},
        {"*ESE", Command::EventEnable, Parameter::Register, Both, 0},
        {"*ESR", Command::EventStatus, Parameter::None, Queries, 0},
        {"*SRE", Command::ServiceEnable, Parameter::Register, Both, 0},
        {"*STB", Command::StatusByte, Parameter::None, Queries, 0},
        {"*OPC", Command::OperationComplete, Parameter::None, Both, 0},
        {"*WAI", Command::Wait, Parameter::None, Sets, 0},
        {"*TST", Command::SelfTest, Parameter::None, Queries, 0},
        {"SYSTem:ERRor[:NEXT]", Command::ErrorNext, Parameter::None, Queries, 0},
        {"SYSTem:ERRor:ALL", Command::ErrorAll, Parameter::None, Queries, 0},
        {"SYSTem:ERRor:COUNt", Command::ErrorCount, Parameter::None, Queries, 0},
        {"SYSTem:BOARd:RESTarts", Command::BoardRestarts, Parameter::None, Queries, 0},
        {"SYSTem:VERSion", Command::Version, Parameter::None, Queries, 0},
        {"STATus:OPERation[:EVENt]", Command::OperationEvent, Parameter::None, Queries, 0},
        {"STATus:OPERation:CONDition", Command::OperationCondition, Parameter::None, Queries, 0},
        {"STATus:OPERation:ENABle", Command::OperationEnable, Parameter::Enable, Both, 0},
        {"STATus:QUEStionable[:EVENt]", Command::QuestionableEvent, Parameter::None, Queries, 0},
        {"STATus:QUEStionable:CONDition", Command::QuestionableCondition, Parameter::None, Queries,
         0},
        {"STATus:QUEStionable:ENABle", Command::QuestionableEnable, Parameter::Enable, Both, 0},
        {"STATus:PRESet", Command::Preset, Parameter::None, Sets, 0},
        // SOURce is an optional root, as in SCPI's own tree: "VOLT 1" is DAC A.
        {"[SOURce#]:VOLTage[:LEVel][:IMMediate][:AMPLitude]", Command::SourceVolts,
         Parameter::Volts, Both, 4},
        {"[SOURce#]:VOLTage:CODE", Command::SourceCode, Parameter::Code, Both, 4},
        // One reference for the four channels: only the bare or first suffix names it.
        {"[SOURce#]:VOLTage:REFerence", Command::Reference, Parameter::Supply, Both, 1},
        {"MEASure#:VOLTage[:DC]", Command::MeasureVolts, Parameter::Range, Queries, 8},
        {"MEASure#:CODE", Command::MeasureCode, Parameter::None, Queries, 8},
        {"MEASure:VDD", Command::Vdd, Parameter::Supply, Both, 0},
        {"DAC:WORD", Command::Word, Parameter::Word, Sets, 0},
        {"PIN:CLR", Command::ClrPin, Parameter::Level, Both, 0},
        {"PIN:LDAC", Command::LdacPin, Parameter::Level, Both, 0},
        // The calibration of the board: whether it applies, and each channel's record.
        {"*CAL", Command::Calibrate, Parameter::None, Queries, 0},
        {"CALibration:STATe", Command::CalibrationState, Parameter::Boolean, Both, 0},
        {"CALibration#:DATE", Command::CalibrationDate, Parameter::None, Queries, 4},
        {"CALibration#:DUE", Command::CalibrationDue, Parameter::None, Queries, 4},
        {"CALibration#:DATA", Command::CalibrationData, Parameter::None, Queries, 4},
};

// The row whose pattern the header matches, with the '#' node's suffix; nullptr for none.
const CommandRow *findCommand(const Unit &unit, const Node *nodes, int count, int &suffix);

} // namespace Scpi
