// What the edit dialog shows, shared by its parts: the editor itself,
// the accounts, the access rules and the hook presets.

export const edit = {
  name: null,      // name of the repository in the editor, null when creating
  shown: null,     // what the editor showed of it, to tell what a save changes
  accountsMode: 'edit',  // see setAccountsMode
  rules: null,     // its rules as shown, and who else uses their file
};
