#pragma once

#include <gmock/gmock.h>

#include "ui/window.h"

namespace qor::testing {

// For code that touches the window only in passing (a message box or two);
// dialog tests use the in-memory host instead.
class MockWindow : public Window {
  public:
    MOCK_METHOD(void, setItemText, (int, std::string_view), (override));
    MOCK_METHOD(std::string, itemText, (int), (override));
    MOCK_METHOD(void, enableItem, (int, bool), (override));
    MOCK_METHOD(void, showItem, (int, bool), (override));
    MOCK_METHOD(int, checkedRadioButton, (int, int), (override));
    MOCK_METHOD(void, checkRadioButton, (int, int, int), (override));
    MOCK_METHOD(void, addComboString, (int, std::string_view), (override));
    MOCK_METHOD(void, setComboSelection, (int, int), (override));
    MOCK_METHOD(int, comboSelection, (int), (override));
    MOCK_METHOD(void, setPicture, (int, int), (override));
    MOCK_METHOD(void, setProgressRange, (int, uint16_t, uint16_t), (override));
    MOCK_METHOD(void, setProgressPos, (int, int), (override));
    MOCK_METHOD(void, createControl, (const ControlSpec&), (override));
    MOCK_METHOD(Rect, windowRect, (), (override));
    MOCK_METHOD(void, moveWindow, (const Rect&, bool), (override));
    MOCK_METHOD(void, setTimer, (int, uint32_t), (override));
    MOCK_METHOD(void, killTimer, (int), (override));
    MOCK_METHOD(void, setIcon, (int, bool), (override));
    MOCK_METHOD(int, messageBox, (std::string_view, std::string_view, uint32_t), (override));
    MOCK_METHOD(std::optional<std::string>, openFileDialog, (const OpenFileRequest&), (override));
    MOCK_METHOD(void, invoke, (const std::function<void()>&), (override));
};

}  // namespace qor::testing
