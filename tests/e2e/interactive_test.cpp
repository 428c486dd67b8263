// add, email, misc, sys and pass, answered on a real terminal and through pipes.
#include <gtest/gtest.h>

#include "harness.h"
#include "pty_session.h"

using namespace rk_test;

namespace {

class interactive : public ::testing::Test {
 protected:
  void SetUp() override { reset_sandbox(); }

  std::vector<std::string> at_repo(std::vector<std::string> args) {
    args.insert(args.begin(), {"-d", repo});
    return args;
  }
  result answer(std::vector<std::string> args, std::string input) {
    return run_tool(at_repo(std::move(args)), std::move(input));
  }
  std::string passwd() { return read_file(repo + "/CVSROOT/passwd"); }
  std::string users() { return read_file(repo + "/CVSROOT/users"); }
  // The field of the passwd line of name.
  std::string hash_of(const std::string& name) {
    std::string text = passwd();
    auto line = text.find(name + ":");
    auto start = line + name.size() + 1;
    return text.substr(start, text.find(':', start) - start);
  }

  scratch_dir dir;
  std::string repo = make_repo(dir, "anna:anOLDHASHanna:cvs\nbo:boOLDHASHbobo:\n", "anna:anna@x\n");
};

TEST_F(interactive, add_on_a_terminal_hides_the_password) {
  pty_session tty(at_repo({"add", "dora"}));
  tty.expect("User dora\r\nPassword? ");
  tty.wait_for_echo_off();
  tty.type("s3cret pass\n");
  tty.expect("System user? [] ");
  EXPECT_TRUE(tty.echo_is_on());  // put back after the password
  tty.type("cvs\n");
  tty.expect("Email address? [] ");
  tty.type("dora@example.org\n");
  EXPECT_EQ(tty.finish(), 0);
  EXPECT_EQ(tty.screen().find("s3cret"), std::string::npos) << tty.screen();

  std::string hash = hash_of("dora");
  EXPECT_TRUE(hash_matches("s3cret pass", hash)) << hash;
  EXPECT_EQ(passwd(), "anna:anOLDHASHanna:cvs\nbo:boOLDHASHbobo:\ndora:" + hash + ":cvs\n");
  EXPECT_EQ(users(), "anna:anna@x\ndora:dora@example.org\n");
}

TEST_F(interactive, pass_on_a_terminal) {
  pty_session tty(at_repo({"pass", "ghost", "anna", "bo"}));
  tty.expect("Can't get ghost's information\r\nNew password for anna? ");
  tty.wait_for_echo_off();
  tty.type("n3w\n");
  tty.expect("New password for bo? ");
  tty.wait_for_echo_off();
  tty.type("\n");
  tty.expect("No password is bad. Really. Not changing\r\n");
  EXPECT_EQ(tty.finish(), 0);
  EXPECT_EQ(tty.screen().find("n3w"), std::string::npos);
  EXPECT_TRUE(hash_matches("n3w", hash_of("anna")));
  EXPECT_EQ(hash_of("bo"), "boOLDHASHbobo");
}

TEST_F(interactive, pass_asks_a_hidden_question_even_with_ready_made_hashes) {
  pty_session tty({"-C", "-d", repo, "pass", "bo"});
  tty.expect("New password for bo? ");
  tty.wait_for_echo_off();
  tty.type("x\n");
  EXPECT_EQ(tty.finish(), 0);
  EXPECT_TRUE(hash_matches("x", hash_of("bo")));
}

// With -C a hash piped to pass would become the password: one with the whole
// form of a crypt hash is refused; a plain password is stored.
TEST_F(interactive, pass_with_ready_made_hashes_refuses_a_hash_typed_as_the_password) {
  const std::string sha512 =
      "$6$saltsalt$qFmFH.bQmmtXzyBY0s9v7Oicd2z4XSIecDzlB5KiA2/jctKu9YterLp8wwnSq.qc.eoxqOmSuNp2xS0ktL3nh/";
  result refused = answer({"-C", "pass", "bo"}, sha512 + "\n");
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(refused.out, "New password for bo? Refusing user \"bo\": the password has the form of "
                         "a crypt hash, and -C does not apply to pass; store a hash with misc -C\n");
  EXPECT_EQ(hash_of("bo"), "boOLDHASHbobo");
  result stored = answer({"-C", "pass", "bo"}, "$not a hash\n");
  EXPECT_EQ(stored.status, 0) << stored.err;
  EXPECT_TRUE(hash_matches("$not a hash", hash_of("bo")));
}

// DES counts 8 characters: a longer password is stored with a warning.
TEST_F(interactive, a_password_longer_than_des_counts_is_warned_of) {
  const std::string warning =
      "Warning: only the first 8 characters of bo's password count in its DES hash; for a "
      "stronger hash, make one with openssl passwd -6 -stdin and store it with misc -C\n";
  struct {
    std::vector<std::string> args;
    std::string input;
    std::string password;
    bool warned;
  } cases[] = {
      {{"pass", "bo"}, "davepass12345abcd\n", "davepass12345abcd", true},
      {{"pass", "bo"}, "short\n", "short", false},
      {{"misc", "bo"}, "davepass12345abcd\n\n\n", "davepass12345abcd", true},
      {{"add", "bo"}, "eightch8\n\n\n", "eightch8", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.password);
    result r = answer(c.args, c.input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, c.warned ? warning : "");
    EXPECT_TRUE(hash_matches(c.password, hash_of("bo")));
  }
}

// Every answer comes from standard input: piped answers mean the same with
// a terminal present as without one.
TEST_F(interactive, piped_answers_mean_the_same_with_a_terminal_present) {
  pty_session tty(at_repo({"add", "dora"}), std::string("pw\n\n\n"));
  EXPECT_EQ(tty.finish(), 0) << tty.screen();
  EXPECT_TRUE(hash_matches("pw", hash_of("dora")));
  EXPECT_NE(passwd().find("dora:" + hash_of("dora") + ":\n"), std::string::npos) << passwd();
}

// A hidden answer is a whole line: a CR in it is refused, and the answers
// after it stay with their own questions.
TEST_F(interactive, a_cr_in_a_piped_password_shifts_no_answer) {
  result r = answer({"add", "bob2", "carol"}, "pw\r\nbs\nb@x\ncarolpw\ncs\nc@x\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Refusing user \"bob2\": the password contains a control character"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(passwd().find("bob2:"), std::string::npos);
  EXPECT_TRUE(hash_matches("carolpw", hash_of("carol")));
  EXPECT_NE(passwd().find(":cs\n"), std::string::npos);
  EXPECT_NE(users().find("carol:c@x\n"), std::string::npos);
}

TEST_F(interactive, misc_answered_with_enter_changes_nothing) {
  struct stat before = file_status(repo + "/CVSROOT/passwd");
  pty_session tty(at_repo({"misc", "anna"}));
  tty.expect("User anna\r\nPassword? ");
  tty.wait_for_echo_off();
  tty.type("\n");
  tty.expect("System user? [cvs] ");
  tty.type("\n");
  tty.expect("Email address? [anna@x] ");
  tty.type("\n");
  EXPECT_EQ(tty.finish(), 0);
  struct stat after = file_status(repo + "/CVSROOT/passwd");
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(interactive, plain_questions_through_a_pipe) {
  result r = answer({"-C", "add", "eve", "anna"}, "eeHASH0123456\n  cvs\nEVE@x\n\n\nanna@new\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "User eve\nPassword hash? System user? [] Email address? [] "
            "User anna\nPassword hash? System user? [] Email address? [] ");
  // Leading blanks belong to the answer; Enter keeps what is there.
  EXPECT_EQ(passwd(), "anna:anOLDHASHanna:cvs\nbo:boOLDHASHbobo:\neve:eeHASH0123456:  cvs\n");
  EXPECT_EQ(users(), "anna:anna@new\neve:EVE@x\n");
}

TEST_F(interactive, hidden_question_without_a_terminal_reads_standard_input) {
  result r = answer({"add", "fay"}, "pw\n\n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "User fay\nPassword? System user? [] Email address? [] ");
  EXPECT_TRUE(hash_matches("pw", hash_of("fay")));

  result empty = answer({"add", "gus"}, "\n\n\n");
  EXPECT_EQ(empty.status, 0);
  EXPECT_TRUE(empty.out.ends_with("Warning: gus has no password, so any password will be accepted\n"))
      << empty.out;
  EXPECT_NE(passwd().find("\ngus::\n"), std::string::npos);  // created without a hash
}

TEST_F(interactive, messages_of_each_action) {
  struct {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{"misc", "ghost"}, "", "error getting ghost's info\n"},
      {{"sys", "ghost"}, "", "Can't get ghost's information\n"},
      {{"pass", "ghost"}, "", "Can't get ghost's information\n"},
      {{"sys", "anna"}, "\n", "New system user for anna? [cvs] ? "},
      {{"email", "anna", "hal"}, "a@y\n\n", "New email for anna? New email for hal? "},
      {{"-C", "misc", "bo"}, "\nbsys\n\n", "User bo\nPassword hash? System user? [] Email address? [] "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    result r = answer(c.args, c.input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
  }
  // A user made by its address alone is locked until it gets a password.
  EXPECT_EQ(passwd(), "anna:anOLDHASHanna:cvs\nbo:boOLDHASHbobo:bsys\nhal:!:\n");
  EXPECT_EQ(users(), "anna:a@y\n");
}

TEST_F(interactive, end_of_input_ends_the_run_without_saving) {
  result r = answer({"-C", "add", "ivy", "jon"}, "h1\ns\ne@x\nh2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "fgets: end of input\n");
  EXPECT_EQ(passwd(), "anna:anOLDHASHanna:cvs\nbo:boOLDHASHbobo:\n");

  // readpassphrase reads the end of input as an empty password.
  result hidden = answer({"pass", "anna"}, "");
  EXPECT_EQ(hidden.status, 0);
  EXPECT_EQ(hidden.out, "New password for anna? No password is bad. Really. Not changing\n");
  EXPECT_EQ(hash_of("anna"), "anOLDHASHanna");
}

TEST_F(interactive, input_that_would_not_read_back_is_refused) {
  const std::string before_passwd = passwd();
  const std::string before_users = users();
  struct {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{"add", "kim\nroot:"}, "", "Refusing user \"kim\\x0aroot:\": the name contains ':'\n"},
      {{"add", "#kim"}, "", "Refusing user \"#kim\": the name begins with '#'\n"},
      {{"email", " kim"}, "", "Refusing user \" kim\": the name begins or ends with whitespace\n"},
      {{"add", ""}, "", "Refusing user \"\": the name is empty\n"},
      {{"-C", "add", "kim"}, "a:b\n\n\n",
       "User kim\nPassword hash? System user? [] Email address? [] "
       "Refusing user \"kim\": the password hash contains ':'\n"},
      {{"-C", "misc", "anna"}, "nwHASH0123456\nsys\nmail\x1b[2J\n",
       "User anna\nPassword hash? System user? [cvs] Email address? [anna@x] "
       "Refusing user \"anna\": the e-mail address contains a control character\n"},
      {{"-C", "add", "kim"}, "hello world\n\n\n",
       "User kim\nPassword hash? System user? [] Email address? [] "
       "Refusing user \"kim\": the password hash is not in a form the system's crypt recognises\n"},
      {{"-C", "add", "kim"}, "$6$salt$short\n\n\n",
       "User kim\nPassword hash? System user? [] Email address? [] "
       "Refusing user \"kim\": the password hash is not in a form the system's crypt recognises\n"},
      {{"sys", "anna"}, "no:body\n",
       "New system user for anna? [cvs] ? Refusing user \"anna\": the system user contains ':'\n"},
      {{"sys", "anna"}, "cvs \n",
       "New system user for anna? [cvs] ? Refusing user \"anna\": the system user ends with "
       "whitespace\n"},
      {{"email", "bo"}, "b@x\r\n",
       "New email for bo? Refusing user \"bo\": the e-mail address contains a control "
       "character\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    result r = answer(c.args, c.input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(passwd(), before_passwd);
  EXPECT_EQ(users(), before_users);

  // A refusal stops only its own name.
  result r = answer({"email", "a:b", "bo"}, "bo@x\n");
  EXPECT_EQ(r.out, "Refusing user \"a:b\": the name contains ':'\nNew email for bo? ");
  EXPECT_EQ(users(), "anna:anna@x\nbo:bo@x\n");
}

}  // namespace
