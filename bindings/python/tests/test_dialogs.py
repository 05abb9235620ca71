"""Script dialogs: reported with their type and message, answered OK or Cancel."""

import quillo
from pages import page


def test_dialogs_wait_for_an_answer():
    view = quillo.WebView(html=page("dialogs"), width=200, height=120)
    view.wait_for_title("dialogs")

    view.run_script("setTimeout(() => { document.title = confirm('Proceed?') ? 'yes' : 'no' })")
    dialog = view.wait_for_dialog()
    assert (dialog.dialog_type, dialog.text) == ("confirm", "Proceed?")
    assert view.dialog == dialog
    view.accept_dialog()
    assert view.wait_for_title("yes")
    assert view.dialog is None

    view.run_script("setTimeout(() => { document.title = confirm('Again?') ? 'yes 2' : 'no 2' })")
    assert view.wait_for_dialog().text == "Again?"
    view.dismiss_dialog()
    assert view.wait_for_title("no 2")

    view.run_script("setTimeout(() => { alert('Hi \u00e9'); document.title = 'after alert' })")
    dialog = view.wait_for_dialog()
    assert (dialog.dialog_type, dialog.text) == ("alert", "Hi \u00e9")
    view.answer_dialog(True)
    assert view.wait_for_title("after alert")

    view.run_script("setTimeout(() => { document.title = 'prompt ' + prompt('Name?', 'x') })")
    dialog = view.wait_for_dialog()
    assert (dialog.dialog_type, dialog.text) == ("prompt", "Name?")
    view.dismiss_dialog()
    assert view.wait_for_title("prompt null")
