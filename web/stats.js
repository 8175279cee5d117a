// The statistics strip below the grid.
export function renderStats(element, fields) {
  element.replaceChildren(
    ...fields.map((field) => {
      const item = document.createElement('div');
      const label = document.createElement('label');
      label.textContent = field.label;
      const value = document.createElement('span');
      value.textContent = field.text;
      item.append(label, value);
      return item;
    }),
  );
}
