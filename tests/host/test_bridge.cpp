// The bridge between JavaScript and VARIANTs, tried on a hand-written
// IDispatch object (probe.h) through a script host in this process.

#include "probe.h"
#include "script_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Runs scripts with `probe` as a global and collects their output.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        out_ = open_memstream(&outText_, &outSize_);
        err_ = open_memstream(&errText_, &errSize_);
        comscript::Host::Config config;
        config.out = out_;
        config.err = err_;
        config.scriptName = "test.js";
        config.arguments = {"one", "two"};
        host_ = new comscript::Host(config);
        ASSERT_TRUE(host_->Start());
        probe_ = new probe::Probe();
        ASSERT_TRUE(host_->AddObject("probe", probe_));
    }
    void TearDown() override {
        delete host_;
        EXPECT_EQ(probe_->Refs(), 1u) << "the host kept a reference";
        probe_->Release();
        std::fclose(out_);
        std::fclose(err_);
        std::free(outText_);
        std::free(errText_);
        CoUninitialize();
    }
    int Run(const std::string &code) { return host_->Run(code); }
    std::string Out() {
        std::fflush(out_);
        return std::string(outText_, outSize_);
    }
    std::string Err() {
        std::fflush(err_);
        return std::string(errText_, errSize_);
    }

    comscript::Host *host_ = nullptr;
    probe::Probe *probe_ = nullptr;
    FILE *out_ = nullptr;
    FILE *err_ = nullptr;
    char *outText_ = nullptr;
    char *errText_ = nullptr;
    size_t outSize_ = 0, errSize_ = 0;
};

struct ToVariantCase {
    const char *expression;
    VARTYPE vt;
    double number;       // I4, R8, BOOL, DATE, ERROR
    const char16_t *text;  // BSTR
};

TEST_F(BridgeTest, JsValuesBecomeVariants) {
    const ToVariantCase cases[] = {
        {"5", VT_I4, 5, nullptr},
        {"-2147483648", VT_I4, -2147483648.0, nullptr},
        {"2147483647", VT_I4, 2147483647.0, nullptr},
        {"2147483648", VT_R8, 2147483648.0, nullptr},
        {"1.5", VT_R8, 1.5, nullptr},
        {"-0", VT_R8, 0, nullptr},
        {"NaN", VT_R8, NAN, nullptr},
        {"'text'", VT_BSTR, 0, u"text"},
        {"''", VT_BSTR, 0, u""},
        {"'\\u00e9\\ud83d\\ude00'", VT_BSTR, 0, u"\u00e9\U0001F600"},
        {"'caf\xC3\xA9 \xF0\x9F\x98\x80'", VT_BSTR, 0, u"caf\u00e9 \U0001F600"},
        {"true", VT_BOOL, VARIANT_TRUE, nullptr},
        {"false", VT_BOOL, VARIANT_FALSE, nullptr},
        {"null", VT_NULL, 0, nullptr},
        {"undefined", VT_ERROR, static_cast<double>(DISP_E_PARAMNOTFOUND), nullptr},
        {"new Date(2024, 0, 2, 18, 0, 0)", VT_DATE, 45293.75, nullptr},
        {"new Date(1899, 11, 29, 6, 0, 0)", VT_DATE, -1.25, nullptr},
        {"probe", VT_DISPATCH, 0, nullptr},
        {"[1, 'a']", VT_ARRAY | VT_VARIANT, 0, nullptr},
        {"probe.Give('array')", VT_ARRAY | VT_I4, 0, nullptr},
    };
    for (const ToVariantCase &c : cases) {
        SCOPED_TRACE(c.expression);
        ASSERT_EQ(Run(std::string("probe.Take(") + c.expression + ");"), 0) << Err();
        ASSERT_EQ(probe_->taken.size(), 1u);
        const VARIANT &v = probe_->taken[0];
        ASSERT_EQ(V_VT(&v), c.vt);
        switch (c.vt) {
        case VT_I4: EXPECT_EQ(V_I4(&v), static_cast<LONG>(c.number)); break;
        case VT_R8:
            if (std::isnan(c.number)) EXPECT_TRUE(std::isnan(V_R8(&v)));
            else EXPECT_EQ(V_R8(&v), c.number);
            break;
        case VT_BOOL: EXPECT_EQ(V_BOOL(&v), static_cast<VARIANT_BOOL>(c.number)); break;
        case VT_ERROR: EXPECT_EQ(V_ERROR(&v), static_cast<SCODE>(c.number)); break;
        case VT_DATE: EXPECT_NEAR(V_DATE(&v), c.number, 1e-9); break;
        case VT_BSTR:
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(V_BSTR(&v)), SysStringLen(V_BSTR(&v))),
                      std::u16string(c.text));
            break;
        case VT_DISPATCH: EXPECT_EQ(V_DISPATCH(&v), static_cast<IDispatch *>(probe_)); break;
        case VT_NULL: break;
        default: {
            LONG lower = -1, upper = -1;
            EXPECT_EQ(SafeArrayGetLBound(V_ARRAY(&v), 1, &lower), S_OK);
            EXPECT_EQ(SafeArrayGetUBound(V_ARRAY(&v), 1, &upper), S_OK);
            if (c.vt == (VT_ARRAY | VT_VARIANT)) {
                EXPECT_EQ(lower, 0);
                EXPECT_EQ(upper, 1);
            } else {
                EXPECT_EQ(lower, 1);
                EXPECT_EQ(upper, 2);
            }
        }
        }
        probe_->ClearTaken();
    }
    // Arguments arrive in order; a plain object has no VARIANT form.
    ASSERT_EQ(Run("probe.Take(1, 'b', null);"), 0);
    ASSERT_EQ(probe_->taken.size(), 3u);
    EXPECT_EQ(V_VT(&probe_->taken[0]), VT_I4);
    EXPECT_EQ(V_VT(&probe_->taken[1]), VT_BSTR);
    EXPECT_EQ(V_VT(&probe_->taken[2]), VT_NULL);
    EXPECT_EQ(Run("try { probe.Take(1, {}); } catch (e) { WScript.Echo(e.number, e.argument); }"), 0);
    EXPECT_EQ(Out(), "-2147352571 2\n");
}

TEST_F(BridgeTest, VariantsBecomeJsValues) {
    const struct {
        const char *kind;
        const char *shown;
    } cases[] = {
        {"empty", "undefined undefined"},
        {"null", "object null"},
        {"i1", "number -5"},
        {"ui1", "number 200"},
        {"i2", "number -30000"},
        {"ui2", "number 60000"},
        {"i4", "number -2000000000"},
        {"ui4", "number 4000000000"},
        {"int", "number 7"},
        {"i8", "number -9007199254740991"},
        {"ui8", "number 9007199254740991"},
        {"r4", "number 1.5"},
        {"r8", "number -0.125"},
        {"cy", "number 12.3456"},
        {"decimal", "number -123.45"},
        {"true", "boolean true"},
        {"false", "boolean false"},
        {"bstr", "string h\xC3\xA9llo \xF0\x9F\x98\x80 8"},
        {"nullbstr", "string  0"},
        {"missing", "undefined undefined"},
        {"error", "number -2147467259"},
        {"date", "object 2024-1-2 18:0"},
        {"dispatch", "function probe value"},
        {"unknown", "function probe value"},
        {"nulldispatch", "object null"},
        {"byref", "number 42"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        const size_t before = Out().size();
        const std::string code = std::string("var v = probe.Give('") + c.kind +
                                 "'); var t = typeof v;"
                                 "if (v instanceof Date) v = v.getFullYear() + '-' + (v.getMonth() + 1) + '-' + "
                                 "v.getDate() + ' ' + v.getHours() + ':' + v.getMinutes();"
                                 "else if (t === 'string') v = v + ' ' + v.length;"
                                 "else if (t === 'function') v = String(v);"
                                 "WScript.StdOut.Write(t + ' ' + String(v));";
        ASSERT_EQ(Run(code), 0) << Err();
        EXPECT_EQ(Out().substr(before), c.shown);
    }
}

TEST_F(BridgeTest, ArraysAreVBArrays) {
    ASSERT_EQ(Run("var a = probe.Give('array');"
                  "WScript.Echo(a.dimensions(), a.lbound(), a.ubound(), a.lbound(2), a.ubound(2));"
                  "WScript.Echo(a.getItem(1, 0), a.getItem(2, 2), a.toArray().join(','));"
                  "probe.Take(a); var b = new VBArray(a); WScript.Echo(b === a);"
                  "try { a.getItem(3, 0); } catch (e) { WScript.Echo(e.number); }"),
              0)
        << Err();
    EXPECT_EQ(Out(), "2 1 2 0 2\n10 22 10,20,11,21,12,22\ntrue\n-2147352565\n");
}

TEST_F(BridgeTest, MembersPropertiesAndDefaultValues) {
    ASSERT_EQ(Run("WScript.Echo(probe.Count, probe.count);"
                  "probe.Count = 9; WScript.Echo(probe.Count);"
                  "WScript.Echo(probe(), probe('x'), probe(12));"
                  "WScript.Echo('' + probe, probe);"
                  "WScript.Echo('Take' in probe, 'Nothing' in probe);"),
              0)
        << Err();
    EXPECT_EQ(Out(), "3 3\n9\nprobe value item:x item:12\nprobe value probe value\ntrue false\n");
    EXPECT_EQ(probe_->count, 9);
}

TEST_F(BridgeTest, ByRefReadsBackWhatTheCalleeWrote) {
    ASSERT_EQ(Run("var b = new ByRef(); probe.Fill(b); WScript.Echo(b.value);"
                  "var c = new ByRef(1); probe.Fill(c); WScript.Echo(typeof c.value, c.value);"
                  "try { probe.Fill('plain'); } catch (e) { WScript.Echo(e.number, e.argument); }"),
              0)
        << Err();
    EXPECT_EQ(Out(), "filled\nfunction probe value\n-2147352571 1\n");
}

TEST_F(BridgeTest, FailuresBecomeErrors) {
    ASSERT_EQ(Run("try { probe.Fail(); } catch (e) {"
                  "  WScript.Echo(e instanceof Error, e.number, e.description, e.message); }"
                  "try { probe.Nothing(); } catch (e) { WScript.Echo(e.number); }"
                  "try { probe.Strict(1, 2); } catch (e) { WScript.Echo(e.number, e.argument, e.description); }"
                  "try { new ActiveXObject('No.Such.Class'); } catch (e) { WScript.Echo(e.number); }"),
              0)
        << Err();
    EXPECT_EQ(Out(),
              "true -2146825267 probe failed probe failed\n"
              "-2147352570\n"
              "-2147352571 2 Type mismatch. (argument 2)\n"
              "-2147221005\n");
}

TEST_F(BridgeTest, UncaughtErrorsAndSyntaxErrorsAreReported) {
    EXPECT_EQ(Run("var a = 1;\n\nprobe.Fail();\nWScript.Echo('not reached');"), 1);
    EXPECT_EQ(Err(), "test.js(3, 1): error 0x800A0BCD: probe failed\n");
    EXPECT_EQ(Run("WScript.Echo('before');\nvar x = ;"), 1);
    EXPECT_EQ(Out(), "");  // nothing runs when the script does not compile
    EXPECT_NE(Err().find("test.js(2, 1): error 0x800A03EA: "), std::string::npos) << Err();
    EXPECT_EQ(Run("throw new TypeError('bad');"), 1);
    EXPECT_NE(Err().find("error 0x800A138F: bad"), std::string::npos) << Err();
}

TEST_F(BridgeTest, WScriptObject) {
    ASSERT_EQ(Run("WScript.Echo('a', 1, null, true);"
                  "WScript.StdOut.Write('x'); WScript.StdOut.WriteLine('y');"
                  "WScript.StdErr.WriteLine('to stderr');"
                  "var args = WScript.Arguments;"
                  "WScript.Echo(args.length, args.Count(), args.Item(0), args(1), WScript.ScriptName);"
                  "WScript.Sleep(1);"),
              0)
        << Err();
    EXPECT_EQ(Out(), "a 1 null true\nxy\n2 2 one two test.js\n");
    EXPECT_EQ(Err(), "to stderr\n");
    EXPECT_EQ(Run("WScript.Quit(4); WScript.Echo('not reached');"), 4);
}

TEST_F(BridgeTest, CollectedWrappersReleaseTheirReference) {
    const ULONG before = probe_->Refs();  // ours and the global's
    ASSERT_EQ(Run("for (var i = 0; i < 1000; ++i) probe.Give('self').Count;"
                  "var cycle = {self: probe.Give('self')}; cycle.me = cycle; cycle = null; Duktape.gc();"),
              0)
        << Err();
    EXPECT_EQ(probe_->Refs(), before);
}

TEST_F(BridgeTest, ReleaseAllGivesBackEveryReference) {
    ASSERT_EQ(Run("var kept = [probe.Give('dispatch'), probe.Give('array'), probe]; var p = probe;"), 0);
    EXPECT_GT(probe_->Refs(), 1u);
    host_->ReleaseAll();
    EXPECT_EQ(probe_->Refs(), 1u);
    EXPECT_EQ(Run("try { p.Count; } catch (e) { WScript.Echo(e.description); }"), 0);
    EXPECT_EQ(Out(), "The object has been released.\n");
}

}  // namespace
