// The window framework on its own: reading stored definitions, windowless
// labels painted by their parent, borderless forms placed over others.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "rtl/Errors.h"
#include "ui/Reader.h"
#include "ui/StdCtrls.h"

namespace {

std::vector<std::string> Log;

// A component that records how the reader treats it, with a stored property
// of its own ("Data") and an old name it still accepts ("Bytes").
class TProbe : public TComponent {
public:
    using TComponent::TComponent;
    const char* ClassName() const override { return "TProbe"; }
    bool ReadProperty(TReader& reader, const std::string& name, const TStoredValue& value) override {
        if (name == "Data" || name == "Bytes") {
            Log.push_back(Name() + "." + name + "=" + std::to_string(reader.AsBytes(value).size()) +
                          (IsLoading() ? " loading" : " loaded"));
            return true;
        }
        if (name == "Number") {
            Log.push_back(Name() + ".Number=" + std::to_string(reader.AsInt(value)));
            return true;
        }
        // As a handler served while a property is applied may: frees the
        // component of that name.
        if (name == "Free") {
            TComponent* doomed = Owner()->FindComponent(reader.AsString(value));
            Log.push_back(Name() + " frees " + reader.AsString(value));
            delete doomed;
            return true;
        }
        return TComponent::ReadProperty(reader, name, value);
    }

protected:
    void Loaded() override {
        TComponent::Loaded();
        Log.push_back(Name() + " loaded" + (IsLoading() ? " (still loading)" : ""));
    }
};

class TProbeRoot : public TProbe {
public:
    explicit TProbeRoot() : TProbe(nullptr) {
        DefineMethod("Clicked", TNotifyEvent([](TComponent*) {}));
    }
};

std::string ReadError(const TStoredComponent& definition) {
    TProbeRoot root;
    try {
        TReader::ReadRoot(root, definition);
    } catch (const EReadError& error) {
        return error.Message();
    }
    return "no error";
}

TEST(Reader, AppliesPropertiesInStoredOrderThenTheLoadedPass) {
    RegisterComponentClass("TProbe", [](TComponent* owner) { return new TProbe(owner); });
    Log.clear();
    TProbeRoot root;
    TReader::ReadRoot(root, {"TProbeRoot",
                             "Root",
                             {{"Number", 1}, {"Data", TStoredBytes{1, 2, 3}}},
                             {{"TProbe", "First", {{"Bytes", TStoredBytes{9}}, {"Number", 2}}, {}},
                              {"TProbe", "Second", {{"Number", 3}}, {}}}});
    const std::vector<std::string> expected = {
        "Root.Number=1",  "Root.Data=3 loading", "First.Bytes=1 loading", "First.Number=2",
        "Second.Number=3", "Root loaded",         "First loaded",          "Second loaded",
    };
    EXPECT_EQ(Log, expected);
    ASSERT_EQ(root.ComponentCount(), 2) << "children are owned by the root";
    EXPECT_EQ(root.Components(0)->Name(), "First");
    EXPECT_FALSE(root.Components(1)->IsLoading());
}

TEST(Reader, TouchesNothingThatAPropertyFreed) {
    RegisterComponentClass("TProbe", [](TComponent* owner) { return new TProbe(owner); });
    Log.clear();
    TProbeRoot root;
    TReader::ReadRoot(root, {"TProbeRoot",
                             "Root",
                             {},
                             {{"TProbe", "Early", {{"Number", 1}}, {}},
                              {"TProbe", "Doomed", {{"Free", "Doomed"}, {"Number", 2}},
                               {{"TProbe", "Inner", {{"Number", 3}}, {}}}},
                              {"TProbe", "Late", {{"Free", "Early"}, {"Number", 4}}, {}}}});
    const std::vector<std::string> expected = {
        "Early.Number=1", "Doomed frees Doomed", "Late frees Early", "Late.Number=4", "Root loaded", "Late loaded",
    };
    EXPECT_EQ(Log, expected) << "no property, child or loaded pass of a freed component";
    ASSERT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(root.Components(0)->Name(), "Late");
}

TEST(Reader, RefusesWhatItDoesNotKnow) {
    RegisterComponentClass("TProbe", [](TComponent* owner) { return new TProbe(owner); });
    struct {
        const char* Case;
        TStoredComponent Definition;
        const char* Message;
    } cases[] = {
        {"unknown property", {"TProbeRoot", "Root", {{"Colour", 1}}, {}},
         "Error reading Root.Colour: property does not exist"},
        {"unknown property of a child",
         {"TProbeRoot", "Root", {}, {{"TProbe", "Child", {{"Number", 1}, {"Size", 2}}, {}}}},
         "Error reading Child.Size: property does not exist"},
        {"unknown class", {"TProbeRoot", "Root", {}, {{"TMemo", "Memo1", {}, {}}}}, "Class TMemo not found"},
        {"number expected", {"TProbeRoot", "Root", {{"Number", "7"}}, {}},
         "Error reading Root.Number: invalid property value"},
        {"bytes expected", {"TProbeRoot", "Root", {{"Data", 7}}, {}},
         "Error reading Root.Data: invalid property value"},
        {"number out of range", {"TProbeRoot", "Root", {{"Number", 1LL << 40}}, {}},
         "Error reading Root.Number: invalid property value"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadError(c.Definition), c.Message) << c.Case;
}

TEST(Reader, BindsHandlersByNameAndRefusesUnknownOnes) {
    TApplication application;
    application.Initialize();
    bool clicked = false;
    struct TDefined : TForm {
        explicit TDefined(bool& clicked) : TForm(nullptr) {
            DefineMethod("Go", TNotifyEvent([&clicked](TComponent*) { clicked = true; }));
            DefineMethod("Key", TKeyPressEvent([](TComponent*, wchar_t&) {}));
        }
        using TForm::ReadDefinition;
    };
    TDefined defined(clicked);
    defined.ReadDefinition({"TDefined", "F", {}, {{"TButton", "B", {{"OnClick", Ident("Go")}}, {}}}});
    defined.Component<TButton>("B").Click();
    EXPECT_TRUE(clicked) << "OnClick bound to Go";

    TDefined unknown(clicked);
    EXPECT_THROW(unknown.ReadDefinition({"TDefined", "F", {}, {{"TButton", "B", {{"OnClick", Ident("Gone")}}, {}}}}),
                 EReadError)
        << "a handler that does not exist";
    TDefined mismatched(clicked);
    EXPECT_THROW(
        mismatched.ReadDefinition({"TDefined", "F", {}, {{"TButton", "B", {{"OnClick", Ident("Key")}}, {}}}}),
        EReadError)
        << "a handler of another kind";
    TDefined caption(clicked);
    EXPECT_THROW(caption.ReadDefinition({"TDefined", "F", {}, {{"TEdit", "E", {{"Caption", "x"}}, {}}}}), EReadError)
        << "an edit has Text, not Caption";
}

TEST(Label, PaintsCentredInItsBoundsWithParentOrNoBackground) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetColor(RGB(255, 0, 0));
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->SetAutoSize(false);
    label->SetBounds(40, 20, 120, 60);
    label->SetAlignment(taCenter);
    label->SetLayout(tlCenter);
    label->OwnFont().SetColor(RGB(0, 0, 0));
    label->SetCaption("MMM");

    {
        TCapture capture(200, 100, RGB(0, 0, 255));
        form.PaintControls(capture.DC(), RECT{0, 0, 200, 100});
        EXPECT_EQ(capture.At(41, 21), RGB(255, 0, 0)) << "inside: the parent's colour";
        EXPECT_EQ(capture.At(39, 21), RGB(0, 0, 255)) << "left of the bounds: untouched";
        EXPECT_EQ(capture.At(100, 80), RGB(0, 0, 255)) << "below the bounds: untouched";
        const RECT text = capture.Extent(RGB(0, 0, 0));
        ASSERT_LT(text.left, text.right) << "text drawn";
        EXPECT_GE(text.left, 40);
        EXPECT_LE(text.right, 160);
        EXPECT_NEAR((text.left + text.right) / 2.0, 100, 2) << "centred across";
        EXPECT_NEAR((text.top + text.bottom) / 2.0, 50, 3) << "centred down";
    }
    label->SetTransparent(true);
    {
        TCapture capture(200, 100, RGB(0, 0, 255));
        form.PaintControls(capture.DC(), RECT{0, 0, 200, 100});
        EXPECT_EQ(capture.At(41, 21), RGB(0, 0, 255)) << "transparent: the surface shows through";
        EXPECT_LT(capture.Extent(RGB(0, 0, 0)).left, 160) << "text still drawn";
    }
    label->SetTransparent(false);
    label->SetColor(RGB(0, 255, 0));
    {
        TCapture capture(200, 100, RGB(0, 0, 255));
        form.PaintControls(capture.DC(), RECT{0, 0, 200, 100});
        EXPECT_EQ(capture.At(41, 21), RGB(0, 255, 0)) << "own colour";
    }
    label->SetVisible(false);
    {
        TCapture capture(200, 100, RGB(0, 0, 255));
        form.PaintControls(capture.DC(), RECT{0, 0, 200, 100});
        EXPECT_EQ(capture.At(41, 21), RGB(0, 0, 255)) << "hidden: nothing painted";
    }
}

TEST(Label, WordWrapAndAutoSize) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->SetBounds(0, 0, 80, 13);
    label->SetCaption("One");
    const int oneLine = label->Height();
    const int narrow = label->Width();
    label->SetCaption("One two three");
    EXPECT_GT(label->Width(), narrow) << "single line: the width follows the text";
    EXPECT_EQ(label->Height(), oneLine);
    label->SetWordWrap(true);
    label->SetBounds(0, 0, 40, 13);
    label->SetCaption("One two three four five");
    EXPECT_EQ(label->Width(), 40) << "wrapped: the width stays";
    const RECT wrapped = MeasureWrappedText(label->Font().Handle(), label->Text(), 40);
    ASSERT_GT(wrapped.bottom, oneLine) << "the words take more than one line at this width";
    EXPECT_EQ(label->Height(), wrapped.bottom) << "wrapped: the height grows to the text's";
}

TEST(Form, BorderlessWithoutOwnerCentredOverAnotherForm) {
    TApplication application;
    application.Initialize();
    TForm main(&application);
    main.SetBounds(100, 150, 600, 300);
    main.Show();
    auto* splash = new TForm(nullptr);
    splash->SetBorderStyle(bsNone);
    splash->SetClientSize(413, 129);
    splash->CenterOver(&main);
    splash->Show();
    Pump();
    HWND window = splash->Handle();
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_FALSE(style & WS_CAPTION) << "no title bar";
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_BORDER)) << "no border";
    EXPECT_TRUE(IsWindowVisible(window));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 413);
    EXPECT_EQ(client.bottom, 129);
    RECT bounds;
    GetWindowRect(window, &bounds);
    EXPECT_EQ(bounds.left, 100 + (600 - 413) / 2);
    EXPECT_EQ(bounds.top, 150 + (300 - 129) / 2);
    EXPECT_TRUE(IsWindowEnabled(main.Handle())) << "modeless: the other form stays usable";
    delete splash;
    EXPECT_FALSE(IsWindow(window)) << "freeing destroys the window";
    Pump();
    EXPECT_TRUE(IsWindow(main.Handle()));
}

// The frame around the client area is kept between calls: it must follow a
// change of the border style, before and after the window exists.
TEST(Form, ClientSizeFollowsTheBorderStyle) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetBounds(0, 0, 300, 200);
    const int framedWidth = form.ClientWidth();
    const int framedHeight = form.ClientHeight();
    ASSERT_LT(framedHeight, 200) << "a sizeable form has a title bar";
    form.SetBorderStyle(bsNone);
    EXPECT_EQ(form.ClientWidth(), 300);
    EXPECT_EQ(form.ClientHeight(), 200);
    form.SetBorderStyle(bsSizeable);
    EXPECT_EQ(form.ClientWidth(), framedWidth);
    EXPECT_EQ(form.ClientHeight(), framedHeight);
    form.Show();
    Pump();
    EXPECT_EQ(form.ClientHeight(), framedHeight) << "with its window";
    form.SetBorderStyle(bsNone);
    Pump();
    RECT client;
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(form.ClientHeight(), client.bottom) << "borderless, with its window";
}

// A definition stored at half the screen's density comes out twice as big.
class THalfDensityForm : public TForm {
public:
    THalfDensityForm() : TForm(nullptr) {
        ReadDefinition({"THalfDensityForm",
                        "Half",
                        {{"BorderStyle", Ident("bsNone")},
                         {"ClientWidth", 100},
                         {"ClientHeight", 60},
                         {"PixelsPerInch", ScreenPixelsPerInch() / 2},
                         {"Font.Height", -11}},
                        {{"TLabel", "Top", {{"Align", Ident("alTop")}, {"AutoSize", Ident("False")},
                                            {"Height", 10}, {"Caption", "a"}}, {}},
                         {"TEdit", "Edit", {{"Left", 5}, {"Top", 20}, {"Width", 40}, {"Height", 12}}, {}},
                         {"TLabel", "Bold", {{"Left", 5}, {"Top", 40}, {"AutoSize", Ident("False")},
                                             {"Font.Height", -8}, {"Font.Style", IdentSet({"fsBold"})}}, {}}}});
    }
};

TEST(Form, ScalesTheStoredLayoutToTheScreenDensity) {
    TApplication application;
    application.Initialize();
    THalfDensityForm form;
    EXPECT_EQ(form.PixelsPerInch(), ScreenPixelsPerInch());
    RECT client;
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, 200) << "client width";
    EXPECT_EQ(client.bottom, 120) << "client height";
    EXPECT_EQ(form.Font().Height(), -22) << "form font";
    const TControl& edit = form.Component<TEdit>("Edit");
    EXPECT_EQ(edit.Left(), 10);
    EXPECT_EQ(edit.Top(), 40);
    EXPECT_EQ(edit.Width(), 80);
    EXPECT_EQ(edit.Height(), 24);
    const TLabel& bold = form.Component<TLabel>("Bold");
    EXPECT_EQ(bold.Top(), 80);
    EXPECT_EQ(bold.Font().Height(), -16) << "own font";
    const TLabel& top = form.Component<TLabel>("Top");
    EXPECT_EQ(top.Top(), 0);
    EXPECT_EQ(top.Width(), 200) << "aligned to the top: the full scaled width";
    EXPECT_EQ(top.Height(), 20);
}

TEST(Form, TopAlignedControlsStackDownwardsAndFollowTheWidth) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    form.SetBorderStyle(bsNone);
    form.SetClientSize(300, 200);
    auto add = [&form](int height) {
        auto* label = new TLabel(&form);
        label->SetAutoSize(false);
        label->SetParent(&form);
        label->SetBounds(7, 150, 30, height);
        label->SetAlign(alTop);
        return label;
    };
    TLabel* first = add(20);
    TLabel* second = add(29);
    TControl* third = add(50);
    auto* edit = new TEdit(&form);
    edit->SetParent(&form);
    edit->SetAlign(alClient);
    struct {
        TControl* Control;
        int Top, Height;
    } expected[] = {{first, 0, 20}, {second, 20, 29}, {third, 49, 50}, {edit, 99, 101}};
    for (const auto& item : expected) {
        SCOPED_TRACE(item.Control == edit ? "client" : std::to_string(item.Top));
        EXPECT_EQ(item.Control->Left(), 0);
        EXPECT_EQ(item.Control->Top(), item.Top);
        EXPECT_EQ(item.Control->Width(), 300);
        EXPECT_EQ(item.Control->Height(), item.Height);
    }
    second->SetBounds(0, 20, 300, 9);
    EXPECT_EQ(third->Top(), 29) << "a shorter band moves the next one up";
    form.SetClientSize(400, 200);
    EXPECT_EQ(first->Width(), 400) << "the width follows the form";
    EXPECT_EQ(edit->Width(), 400);
    EXPECT_EQ(edit->Height(), 121);
}

TEST(Form, ProcessMessagesHandlesEverythingPendingAndNotesAQuit) {
    TApplication application;
    application.Initialize();
    TForm form(nullptr);
    auto* edit = new TEdit(&form);
    edit->SetParent(&form);
    int keys = 0;
    edit->OnKeyPress = [&keys](TComponent*, wchar_t&) { ++keys; };
    for (int i = 0; i < 5; ++i)
        PostMessageW(edit->Handle(), WM_CHAR, 'x', 0);
    PostQuitMessage(0);
    PostMessageW(edit->Handle(), WM_CHAR, 'y', 0);
    application.ProcessMessages();
    EXPECT_EQ(keys, 6) << "every pending message, also those after the quit";
    EXPECT_TRUE(application.Terminated());
    EXPECT_EQ(edit->Text(), "xxxxxy");
}

}  // namespace
