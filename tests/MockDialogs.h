// Message boxes and file dialogs as a test answers them.
#pragma once

#include <gmock/gmock.h>

#include <QString>
#include <optional>

#include "DialogService.h"

namespace kelvorin::testdialogs {

class MockDialogs : public DialogService {
public:
    MOCK_METHOD(void, Message, (QWidget*, const QString&, const QString&, Icon), (override));
    MOCK_METHOD(bool, Question, (QWidget*, const QString&, const QString&), (override));
    MOCK_METHOD(Answer, YesNoCancel, (QWidget*, const QString&, const QString&), (override));
    MOCK_METHOD(void, ErrorAbort, (QWidget*, const QString&), (override));
    MOCK_METHOD(std::optional<QString>, OpenFileName, (QWidget*, const QString&, const QString&, const QString&),
                (override));
    // The last argument tells whether the dialog asks before replacing an
    // existing file.
    MOCK_METHOD(std::optional<QString>, SaveFileName,
                (QWidget*, const QString&, const QString&, const QString&, bool), (override));
};

}  // namespace kelvorin::testdialogs
