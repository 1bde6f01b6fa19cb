"""The package against the stand-in server: each method reaches its job, results come back as
Python values, failures as QuilletError with the library's code and text."""

import os
import pickle
import sys
from pathlib import Path

import pytest

import quillet

sys.path.append(str(Path(__file__).resolve().parent.parent))
import header_table  # noqa: E402

STOCK_SCRIPT = """CREATE TABLE stock (id INTEGER, name VARCHAR(20));
INSERT INTO stock VALUES (1, 'Quill');
INSERT INTO stock VALUES (2, 'Ink');
"""


def test_server_jobs_change_the_database_list(server: quillet.Server) -> None:
    server.create_db("STOCK")
    server.create_db(b"SALES")  # bytes pass as they are
    assert server.dir_db() == ["SALES", "STOCK"]
    server.deinstall_db("SALES")
    assert server.dir_db() == ["STOCK"]
    server.install_db("SALES")
    server.drop_db("STOCK")
    assert server.dir_db() == ["SALES"]


def test_a_failure_raises_with_the_signed_code_and_its_text(server: quillet.Server,
                                                            tmp_path: Path) -> None:
    server.create_db("STOCK")
    with pytest.raises(quillet.QuilletError) as refused:
        server.create_db("STOCK")
    assert refused.value.code > 0
    assert "client library" in str(refused.value)

    with pytest.raises(quillet.QuilletError) as unopened:
        quillet.Database("STOCK", user="SYSADM", password="SYSADM").export_csv(
            "SELECT 1", tmp_path / "missing-folder" / "out.csv")
    assert unopened.value.code == quillet._header.ERROR_FILE == -1
    assert "the output file could not be opened" in str(unopened.value)
    assert "cannot create a file in the folder" in str(unopened.value)  # the command line's words


def test_database_jobs_load_and_export_rows(server: quillet.Server, tmp_path: Path) -> None:
    server.create_db("STOCK")
    script = tmp_path / "stock.sql"
    script.write_text(STOCK_SCRIPT)
    database = quillet.Database("STOCK", user="SYSADM", password="SYSADM")
    database.reload(script)
    database.update_stats()
    database.release_log()
    output = tmp_path / "stock.csv"
    database.export_csv("SELECT id, name FROM stock ORDER BY id", output)
    assert output.read_bytes() == b'"id","name"\r\n1,"Quill"\r\n2,"Ink"\r\n'
    with pytest.raises(quillet.QuilletError):
        quillet.Database("STOCK", user="SYSADM", password="wrong").update_stats()


def test_snapshots_and_connections(server: quillet.Server, tmp_path: Path) -> None:
    server.create_db("STOCK")
    (tmp_path / "one").mkdir()
    server.snapshot("STOCK", tmp_path / "one", flag=1)
    assert any((tmp_path / "one").iterdir())
    (tmp_path / "all").mkdir()
    server.all_snapshot(tmp_path / "all")
    assert any((tmp_path / "all" / "STOCK").iterdir())
    connections = server.list_connections()
    assert all(isinstance(c, quillet.Connection) and isinstance(c.process, int)
               for c in connections)
    server.kill_all_connections("STOCK")
    server.kill_all_connections()


def test_a_terminated_server_refuses(server: quillet.Server) -> None:
    server.terminate()
    with pytest.raises(quillet.QuilletError):
        server.dir_db()


def test_unsafe_arguments_are_refused_before_any_call(server: quillet.Server) -> None:
    with pytest.raises(ValueError):
        server.create_db("STO\0CK")
    with pytest.raises(ValueError):
        server.kill_connection(2**31)
    with pytest.raises(ValueError):
        server.snapshot("STOCK", "/tmp", flag=-2**31 - 1)
    with pytest.raises(ValueError):
        server.kill_all_connections("")
    with pytest.raises(ValueError):
        quillet.Database("STOCK/SYSADM", user="SYSADM")
    assert server.dir_db() == []


def test_the_texts_are_those_of_the_c_header() -> None:
    assert "site-packages" in quillet.__file__, "the tests must run on the installed package"
    include = Path(__file__).resolve().parent.parent.parent / "include"
    defines, texts = header_table.read(include)
    assert quillet._header.RESULT_TEXTS == texts
    assert quillet._header.CONNECTION_LIST_SIZE == defines["QUILLET_CONNECTION_LIST_SIZE"]
    assert quillet.result_text(defines["QUILLET_ERROR_FILE_WRITE"]).startswith(
        "the output file could not be written completely")
    assert quillet.result_text(9101) is None


def test_the_exports_are_read_however_quillet_h_breaks_its_lines(tmp_path: Path) -> None:
    include = Path(__file__).resolve().parent.parent.parent / "include"
    text = (include / "quillet.h").read_text(encoding="utf-8")
    (tmp_path / "quillet.h").write_text(text.replace(
        "QUILLET_API int32_t QUILLET_CALL KillConnection(const char* server,",
        "  QUILLET_API int32_t\n  QUILLET_CALL KillConnection (const char *server, /* a, b */"))
    assert header_table.exports(tmp_path) == header_table.exports(include)
    assert len(header_table.exports(include)) == 17


def test_the_library_is_looked_for_by_variable_then_beside_then_system(
        monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setenv("QUILLET_LIBRARY", "/opt/q/libquillet.so.1")
    assert quillet.library_candidates() == ["/opt/q/libquillet.so.1"]
    # A library that QUILLET_LIBRARY names and that cannot be loaded is an error, not a reason
    # to take another one.
    monkeypatch.setattr(quillet, "_library", None)
    with pytest.raises(OSError, match="QUILLET_LIBRARY names .*/opt/q/libquillet.so.1"):
        quillet.Server("PYSRV").dir_db()
    monkeypatch.delenv("QUILLET_LIBRARY")
    assert quillet.library_candidates()[-1] in ("libquillet.so.1", "Quillet.dll")


def test_undecodable_paths_and_errors_travel_as_python_expects(server: quillet.Server,
                                                               tmp_path: Path) -> None:
    server.create_db("STOCK")
    # A name as os.listdir gives it when its bytes are not UTF-8.
    output = os.fsdecode(bytes(tmp_path) + b"/out\xff.csv")
    quillet.Database("STOCK", user="SYSADM", password="SYSADM").export_csv("SELECT 1", output)
    assert os.path.exists(bytes(tmp_path) + b"/out\xff.csv")
    with pytest.raises(quillet.QuilletError) as refused:
        server.create_db("STOCK")
    copy = pickle.loads(pickle.dumps(refused.value))
    assert (copy.function, copy.code, str(copy)) == ("CreateDB", refused.value.code,
                                                     str(refused.value))


def test_a_failed_export_keeps_the_previous_file_and_says_why(server: quillet.Server,
                                                              tmp_path: Path) -> None:
    server.create_db("STOCK")
    database = quillet.Database("STOCK", user="SYSADM", password="SYSADM")
    output = tmp_path / "stock.csv"
    output.write_bytes(b"yesterday\n")
    with pytest.raises(quillet.QuilletError) as failed:
        database.export_csv("SELECT * FROM nope", output)
    assert output.read_bytes() == b"yesterday\n"
    assert sorted(entry.name for entry in tmp_path.iterdir()) == ["servers", "stock.csv"]
    assert str(failed.value).endswith("(SQL error): SQLite: no such table: nope")
    # The temporary name fits beside a target whose name is near the longest there is.
    long_name = tmp_path / ("n" * 250)
    database.export_csv("SELECT 1 AS n", long_name)
    assert long_name.read_bytes() == b'"n"\r\n1\r\n'


def test_an_export_refuses_changes_server_folders_and_others_links(server: quillet.Server,
                                                                   standin_root: Path,
                                                                   tmp_path: Path) -> None:
    server.create_db("STOCK")
    database = quillet.Database("STOCK", user="SYSADM", password="SYSADM")
    output = tmp_path / "out.csv"
    for change in ("CREATE TABLE t (a INTEGER)", "/* x */ GRANT CONNECT TO bob IDENTIFIED BY pw",
                   "-- x\nrevoke connect from SYSADM"):
        with pytest.raises(ValueError, match="export_csv takes a query"):
            database.export_csv(change, output)
    assert not output.exists()
    database.export_csv("SELECT 1 AS n", output)  # SYSADM is still there
    catalogue = standin_root / "PYSRV" / "STOCK.db"
    before = catalogue.read_bytes()
    (tmp_path / "acme.link").symlink_to(standin_root / "PYSRV")
    for spelling in (standin_root / "PYSRV" / ".." / "PYSRV" / "STOCK.db",
                     tmp_path / "acme.link" / "new.csv"):
        with pytest.raises(ValueError, match="holds a stand-in server"):
            database.export_csv("SELECT 1 AS n", spelling)
    assert catalogue.read_bytes() == before
    if os.geteuid() == 0:
        shared = tmp_path / "shared"
        shared.mkdir()
        shared.chmod(0o1777)
        (shared / "report.csv").symlink_to(output)
        os.lchown(shared / "report.csv", 4242, 4242)
        with pytest.raises(ValueError, match="symbolic link of another user"):
            database.export_csv("SELECT 2 AS n", shared / "report.csv")
        assert output.read_bytes() == b'"n"\r\n1\r\n'


def test_an_export_writes_only_where_it_may(server: quillet.Server, standin_root: Path,
                                            tmp_path: Path) -> None:
    server.create_db("STOCK")
    database = quillet.Database("STOCK", user="SYSADM", password="SYSADM")
    stock = standin_root / "PYSRV" / "STOCK.db"
    # Read-only by SQLite's judgement, yet it would analyze the tables.
    with pytest.raises(ValueError, match="export_csv takes a query"):
        database.export_csv("SELECT * FROM pragma_optimize(0xfffe)", tmp_path / "o.csv")
    # Held for appending: appended to. Held for reading: a failure leaves it whole.
    appended = tmp_path / "app.csv"
    appended.write_bytes(b"old\n")
    with open(appended, "ab") as held:
        database.export_csv("SELECT 7 AS n", f"/proc/self/fd/{held.fileno()}")
    assert appended.read_bytes() == b'old\n"n"\r\n7\r\n'
    with open(appended, "rb"):
        with pytest.raises(quillet.QuilletError):
            database.export_csv("SELECT * FROM nope", appended)
    assert appended.read_bytes() == b'old\n"n"\r\n7\r\n'
    # A server's database under a second name, held open, is never written through.
    linked = tmp_path / "orders.csv"
    os.link(stock, linked)
    before = stock.read_bytes()
    with open(linked, "ab"):
        with pytest.raises(ValueError, match="has another hard link"):
            database.export_csv("SELECT 7 AS n", linked)
    assert stock.read_bytes() == before
    # The caller's own link to no file, in a folder only the caller writes: its file is made.
    tmp_path.chmod(0o755)
    (tmp_path / "dangling.csv").symlink_to("made.csv")
    database.export_csv("SELECT 7 AS n", tmp_path / "dangling.csv")
    assert (tmp_path / "dangling.csv").is_symlink()
    assert (tmp_path / "made.csv").read_bytes() == b'"n"\r\n7\r\n'


def test_a_temporary_file_swapped_for_a_link_is_never_put_in_place(tmp_path: Path) -> None:
    from quillet import _output
    target, victim = tmp_path / "rows.csv", tmp_path / "victim.txt"
    target.write_bytes(b"old\n")
    victim.write_bytes(b"victim's\n")
    output = _output.Output(bytes(target))
    [temporary] = [entry for entry in tmp_path.iterdir() if ".quillet-" in entry.name]
    temporary.unlink()
    temporary.symlink_to(victim)
    with open(output.path, "wb") as file:
        file.write(b"rows\n")
    with pytest.raises(OSError, match="replaced by someone else"):
        output.commit()
    assert (target.read_bytes(), victim.read_bytes()) == (b"old\n", b"victim's\n")
    # A leftover of an ended process is removed, unless it has another name.
    ended = os.fork()
    if ended == 0:
        os._exit(0)
    os.waitpid(ended, 0)
    name = _output.temporary_name(b"rows.csv").replace(b"-%d-" % os.getpid(), b"-%d-" % ended)
    (tmp_path / os.fsdecode(name)).write_bytes(b"left\n")
    os.link(tmp_path / os.fsdecode(name), tmp_path / "kept.csv")
    _output.remove_stale_temporaries(bytes(tmp_path))
    assert (tmp_path / os.fsdecode(name)).exists()
